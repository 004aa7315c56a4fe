// The device tree in a build without libudev: no plug events, and ports described by their
// entries alone. The datagram socket of the driver's notifications still works.
#include "platform/device_notify.h"
#include "platform/linux/port_entries.h"
#include "platform/port_devices.h"

namespace platform {

namespace {

constexpr const char* NotBuiltText = "this Tarvo32 was built without libudev";

}  // namespace

DeviceTreeState deviceTreeState(std::string* why)
{
    if (why) {
        *why = NotBuiltText;
    }
    return DeviceTreeState::NotBuilt;
}

DeviceNotifyHandle registerPortNotification(DeviceChangeHandler, DeviceNotifyFailure* why)
{
    if (why) {
        why->error = DeviceNotifyError::Failed;
        why->text = NotBuiltText;
    }
    return 0;
}

bool unregisterPortNotification(DeviceNotifyHandle) { return false; }

PortDeviceInfo describePortDevice(const std::string& portName) { return describeEntry(portName); }

}  // namespace platform
