// The device tree from udev: serial ports' devices coming and going (libudev's monitor on the
// "udev" source, subsystem tty, one listener thread per registration, woken out of poll() through
// a pipe when the owner unregisters) and what udev's database says of a port's device.
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/device_notify.h"
#include "platform/linux/listener_parts.h"
#include "platform/linux/host_paths.h"
#include "platform/linux/port_entries.h"
#include "platform/port_devices.h"

namespace platform {

namespace {

// udev's daemon makes its control socket here while it runs; libudev's monitor gets nothing
// without it.
constexpr const char* UdevControlPath = "/run/udev/control";
// umockdev's test bed stands in for udev: its preload carries the bed's events to the monitor.
constexpr const char* TestBedVariable = "UMOCKDEV_DIR";
constexpr const char* UdevSource = "udev";  // events after udev's rules ran: the links exist
constexpr const char* TtySubsystem = "tty";
constexpr const char* AddAction = "add";
constexpr const char* RemoveAction = "remove";

// Where udev keeps a device's USB facts: the properties its usb_id step sets (the older and the
// newer names), then the attributes of the USB device above the tty.
constexpr const char* VendorProperties[] = {"ID_VENDOR_ID", "ID_USB_VENDOR_ID"};
constexpr const char* ProductProperties[] = {"ID_MODEL_ID", "ID_USB_MODEL_ID"};
constexpr const char* SerialProperties[] = {"ID_SERIAL_SHORT", "ID_USB_SERIAL_SHORT"};
constexpr const char* LinksProperty = "DEVLINKS";
constexpr const char* UsbSubsystem = "usb";
constexpr const char* UsbDeviceType = "usb_device";
constexpr const char* VendorAttribute = "idVendor";
constexpr const char* ProductAttribute = "idProduct";
constexpr const char* SerialAttribute = "serial";

struct Listener {
    // The port each arrived device's node was found on (listener thread only): a removal whose
    // links are gone already is that port's.
    std::map<std::string, int32_t> portOfNode;
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread thread;

    ~Listener()
    {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        if (context != nullptr) {
            udev_unref(context);
        }
        if (wakeRead >= 0) {
            close(wakeRead);
        }
        if (wakeWrite >= 0) {
            close(wakeWrite);
        }
    }
};

HandleTable<Listener> listeners;

void fail(DeviceNotifyFailure* why, DeviceNotifyError error, const std::string& text)
{
    if (why) {
        why->error = error;
        why->text = text;
    }
}

std::string textOf(const char* value)
{
    return value != nullptr ? std::string(value) : std::string();
}

// The first of the properties the device has, else the attribute of the USB device above it.
std::string usbFact(udev_device* device, const char* const* properties, size_t count, const char* attribute)
{
    for (size_t i = 0; i < count; ++i) {
        std::string value = textOf(udev_device_get_property_value(device, properties[i]));
        if (!value.empty()) {
            return value;
        }
    }
    // A removed device's USB parent is gone already; its properties came with the event.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, UsbSubsystem, UsbDeviceType);
    return usb != nullptr ? textOf(udev_device_get_sysattr_value(usb, attribute)) : std::string();
}

// The device's links: the list libudev keeps, and the DEVLINKS property where only that came.
std::vector<std::string> linksOf(udev_device* device)
{
    std::vector<std::string> links;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(device))
    {
        links.push_back(textOf(udev_list_entry_get_name(entry)));
    }
    std::istringstream words(textOf(udev_device_get_property_value(device, LinksProperty)));
    std::string link;
    while (words >> link) {
        if (std::find(links.begin(), links.end(), link) == links.end()) {
            links.push_back(link);
        }
    }
    return links;
}

struct DeviceFacts {
    std::string node;
    std::vector<std::string> links;
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::string serial;
};

DeviceFacts factsOf(udev_device* device)
{
    DeviceFacts facts;
    facts.node = textOf(udev_device_get_devnode(device));
    facts.links = linksOf(device);
    // A tree that keeps the links only as files (no DEVLINKS) still has them in /dev/serial.
    if (facts.links.empty()) {
        facts.links = linksFoundFor(facts.node, {SocketLinkFolder, DeviceLinkFolder});
    }
    facts.vendor = usbIdValue(usbFact(device, VendorProperties, std::size(VendorProperties), VendorAttribute));
    facts.product = usbIdValue(usbFact(device, ProductProperties, std::size(ProductProperties), ProductAttribute));
    facts.serial = usbFact(device, SerialProperties, std::size(SerialProperties), SerialAttribute)
                       .substr(0, DeviceSerialLimit);
    return facts;
}

// An add or remove event of a tty with a node as the port device change it is.
bool portChangeOf(udev_device* device, std::map<std::string, int32_t>& portOfNode, DeviceChange* change)
{
    std::string action = textOf(udev_device_get_action(device));
    if (action == AddAction) {
        change->event = DbtDeviceArrival;
    } else if (action == RemoveAction) {
        change->event = DbtDeviceRemoveComplete;
    } else {
        return false;
    }
    DeviceFacts facts = factsOf(device);
    if (facts.node.empty()) {
        return false;
    }
    change->deviceType = DbtDevtypPort;
    change->name = facts.node;
    change->usbVendor = facts.vendor;
    change->usbProduct = facts.product;
    change->serial = facts.serial;
    change->port = portLeadingTo(facts.node, facts.links);
    if (change->event == DbtDeviceArrival) {
        portOfNode[facts.node] = change->port;
    } else {
        auto arrived = portOfNode.find(facts.node);
        if (arrived != portOfNode.end()) {
            if (change->port == 0) {
                change->port = arrived->second;
            }
            portOfNode.erase(arrived);
        }
    }
    return true;
}

void listen(Listener* listener, DeviceChangeHandler handler)
{
    while (waitForEvent(udev_monitor_get_fd(listener->monitor), listener->wakeRead)) {
        udev_device* device = udev_monitor_receive_device(listener->monitor);
        if (device == nullptr) {
            continue;
        }
        DeviceChange change;
        bool wanted = portChangeOf(device, listener->portOfNode, &change);
        udev_device_unref(device);
        if (wanted) {
            handler(change);
        }
    }
}

}  // namespace

DeviceTreeState deviceTreeState(std::string* why)
{
    if (access(UdevControlPath, F_OK) == 0 || !environmentValue(TestBedVariable).empty()) {
        return DeviceTreeState::Available;
    }
    if (why) {
        *why = std::string("udev does not run here (no ") + UdevControlPath + ")";
    }
    return DeviceTreeState::NotRunning;
}

DeviceNotifyHandle registerPortNotification(DeviceChangeHandler handler, DeviceNotifyFailure* why)
{
    fail(why, DeviceNotifyError::None, "");
    std::string notRunning;
    if (deviceTreeState(&notRunning) != DeviceTreeState::Available) {
        fail(why, DeviceNotifyError::Failed, notRunning);
        return 0;
    }
    auto listener = std::make_unique<Listener>();
    listener->context = udev_new();
    if (listener->context != nullptr) {
        listener->monitor = udev_monitor_new_from_netlink(listener->context, UdevSource);
    }
    int wake[2] = {-1, -1};
    if (listener->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(listener->monitor, TtySubsystem, nullptr) < 0 ||
        udev_monitor_enable_receiving(listener->monitor) < 0 || pipe2(wake, O_CLOEXEC) != 0) {
        int error = errno;
        fail(why, DeviceNotifyError::Failed,
             std::string("the udev monitor could not be made: ") + std::strerror(error != 0 ? error : EIO));
        return 0;
    }
    listener->wakeRead = wake[0];
    listener->wakeWrite = wake[1];
    Listener* raw = listener.get();
    try {
        raw->thread = std::thread(listen, raw, std::move(handler));
    } catch (const std::exception&) {
        fail(why, DeviceNotifyError::Failed, "the udev monitor has no listener thread");
        return 0;
    }
    return listeners.add(std::move(listener));
}

bool unregisterPortNotification(DeviceNotifyHandle handle)
{
    std::unique_ptr<Listener> listener = listeners.take(handle);
    if (!listener) {
        return false;
    }
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(listener->wakeWrite, &byte, 1);
    if (listener->thread.joinable()) {
        listener->thread.join();
    }
    return true;
}

PortDeviceInfo describePortDevice(const std::string& portName)
{
    PortDeviceInfo info = describeEntry(portName);
    if (info.entry.empty() || deviceTreeState() != DeviceTreeState::Available) {
        return info;
    }
    udev* context = udev_new();
    if (context == nullptr) {
        return info;
    }
    std::vector<std::string> chain = entryChain(info.entry);
    udev_enumerate* scan = udev_enumerate_new(context);
    if (scan != nullptr && udev_enumerate_add_match_subsystem(scan, TtySubsystem) >= 0 &&
        udev_enumerate_scan_devices(scan) >= 0) {
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan))
        {
            udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (device == nullptr) {
                continue;
            }
            DeviceFacts facts = factsOf(device);
            udev_device_unref(device);
            if (!facts.node.empty() && chainReaches(chain, facts.node, facts.links)) {
                addDeviceFacts(&info, chain, facts.node, facts.vendor, facts.product, facts.serial, facts.links);
                // udev has it in its tree: it is there now.
                info.present = true;
                break;
            }
        }
    }
    if (scan != nullptr) {
        udev_enumerate_unref(scan);
    }
    udev_unref(context);
    return info;
}

}  // namespace platform
