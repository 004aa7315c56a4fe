// Device notifications: RegisterDeviceNotificationA for one device-interface class, the
// device-change message it brings (arrival, removal complete), and UnregisterDeviceNotification.
//
// On Linux a registration binds the local datagram socket $TARVO_HOST/devnotify, which whatever
// plays the USB driver (tools/usbsim, a production line's own tools) sends events to. One event
// per datagram, in ASCII:
//     arrival {CLASS-GUID} INTERFACE-NAME
//     removal {CLASS-GUID} INTERFACE-NAME
// the event word, one blank, the class identifier in braces, one blank, and the interface name to
// the end of the datagram (a single line feed ending it, with or without a carriage return before
// it, is not part of the name; a zero byte ends the name as it ends a Windows string). Events of
// another class are passed on marked otherClass (the owner says why it ignores them); datagrams
// of any other shape are dropped. The class identifier is compared without regard to case.
//
// The socket file is readable and writable by its owner only, whatever the umask: no other user
// can send events. A socket file left by a station that is gone (nothing answers on it) is
// replaced; one that a live station holds makes the registration fail with DeviceNotifyInUse.
// Unregistering stops the listener and removes the socket file.
//
// On Windows a registration is RegisterDeviceNotificationA on a hidden window that a
// listener thread of its own owns and pumps; the device-change message's interface broadcasts of
// the class (arrival, removal complete) reach the handler there, anything else is dropped.
// Unregistering stops that thread, which unregisters and destroys the window.
//
// Beside the driver's notifications, the host's own device tree can tell when a serial port's
// device comes and goes: on Linux udev (libudev's monitor on its "udev" source, subsystem tty,
// so a device's links exist when its event comes), whatever Windows version is acted. Each event
// is a port device change (DbtDevtypPort) carrying the device's node, USB ids and serial, and the
// COM port whose entry $TARVO_HOST/ports/comN leads to the device by its node or any of its
// links (0 when none does). Where udev does not run (no /run/udev/control, and no umockdev test
// bed standing in for it), where the monitor cannot be made, or in a build without libudev, the
// registration fails with the reason; on Windows it is not offered (Unsupported).
//
// Results: registerDeviceNotification gives a non-zero handle, or 0 with the reason in *why.
// Thread rule: register and unregister on the owner's (UI) thread. The handler runs on the
// listener thread, one event at a time; the owner passes each event on to its UI thread (the
// dialog posts it to its window, the command line queues it) and does nothing else there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// The device-change message's event codes and the one device type a registration receives.
constexpr uint32_t DbtDeviceArrival = 0x8000;         // DBT_DEVICEARRIVAL
constexpr uint32_t DbtDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
constexpr uint32_t DbtDevtypDeviceInterface = 5;      // DBT_DEVTYP_DEVICEINTERFACE
constexpr uint32_t DbtDevtypPort = 3;                 // DBT_DEVTYP_PORT: a serial port's device

// The data of one device-change message.
struct DeviceChange {
    uint32_t event = 0;       // DbtDeviceArrival or DbtDeviceRemoveComplete
    uint32_t deviceType = 0;  // DbtDevtypDeviceInterface, or DbtDevtypPort from the device tree
    std::string name;         // the device interface's name, e.g. \\?\NLUSBMDM#...\0807060504030201;
                              // for a port device its node, e.g. /dev/ttyACM0
    // A port device only: what the device tree knows of it.
    int32_t port = 0;         // the COM port whose entry leads to the device; 0: no entry does
    uint16_t usbVendor = 0;   // its USB ids; 0 when it is not a USB device
    uint16_t usbProduct = 0;
    std::string serial;       // its USB serial number (at most DeviceSerialLimit characters)
    // An event of another device-interface class than the one registered for. The local socket
    // passes these on so that the owner can say why it ignores them; Windows never sends them.
    bool otherClass = false;
};

using DeviceChangeHandler = std::function<void(const DeviceChange&)>;
using DeviceNotifyHandle = uint32_t;  // 0: none

constexpr const char* DeviceNotifySocketName = "devnotify";  // in $TARVO_HOST
constexpr size_t DeviceDatagramLimit = 4096;                 // bytes; a longer datagram is dropped
constexpr size_t DeviceSerialLimit = 64;                     // characters of a USB serial kept

enum class DeviceNotifyError {
    None,
    InUse,   // another live station holds the socket
    Failed,  // the socket could not be made (the text says why)
    Unsupported,  // this host offers no such events (port devices on Windows)
};

struct DeviceNotifyFailure {
    DeviceNotifyError error = DeviceNotifyError::None;
    std::string text;  // for the command line: what failed, on which path
};

// Registers for events of the class {classGuid} ("{5C0A19E3-...}", braces included).
DeviceNotifyHandle registerDeviceNotification(const std::string& classGuid, DeviceChangeHandler handler,
                                              DeviceNotifyFailure* why = nullptr);
// Stops the listener (waits for a handler call in progress) and removes the socket file. True
// for a registered handle.
bool unregisterDeviceNotification(DeviceNotifyHandle handle);

// Registers for serial ports' devices appearing and going in the host's device tree; the
// handler gets DbtDevtypPort changes, arrivals and removals only. The same thread rule.
DeviceNotifyHandle registerPortNotification(DeviceChangeHandler handler, DeviceNotifyFailure* why = nullptr);
bool unregisterPortNotification(DeviceNotifyHandle handle);

// The socket path: $TARVO_HOST/devnotify.
std::string deviceNotifySocketPath();

// Reads one datagram; true and *change filled when it is an event, of the class or (otherClass
// set) of another.
bool parseDeviceDatagram(const char* data, size_t size, const std::string& classGuid, DeviceChange* change);

}  // namespace platform
