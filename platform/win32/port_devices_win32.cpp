// The COM ports of a Windows machine: the names the system knows. There is no device tree to ask
// here, and port devices come to the station only through the USB driver's own notifications.
#include "platform/com_port_name.h"
#include "platform/device_notify.h"
#include "platform/port_devices.h"
#include "platform/serial_device.h"

namespace platform {

namespace {

constexpr const char* NotOnThisHostText = "Windows tells of its USB modems through their driver";

}  // namespace

DeviceTreeState deviceTreeState(std::string* why)
{
    if (why) {
        *why = NotOnThisHostText;
    }
    return DeviceTreeState::NotOnThisHost;
}

std::vector<std::string> systemPortNames()
{
    std::vector<std::string> names;
    for (int port = FirstComPort; port <= LastComPort; ++port) {
        if (systemPortExists(comPortName(port))) {
            names.push_back(comPortName(port));
        }
    }
    return names;
}

std::string stableLinkAdvice() { return std::string(); }

PortDeviceInfo describePortDevice(const std::string& portName)
{
    PortDeviceInfo info;
    info.entry = systemPortLocation(portName);
    info.present = systemPortExists(portName);
    return info;
}

DeviceNotifyHandle registerPortNotification(DeviceChangeHandler, DeviceNotifyFailure* why)
{
    if (why) {
        why->error = DeviceNotifyError::Unsupported;
        why->text = NotOnThisHostText;
    }
    return 0;
}

bool unregisterPortNotification(DeviceNotifyHandle) { return false; }

}  // namespace platform
