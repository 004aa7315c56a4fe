// Device notifications on Windows need a window to deliver the device-change message to
// (RegisterDeviceNotificationA with the window's handle), and this build has no Windows window
// layer yet: a registration fails with the reason, so a station runs without plug-and-play
// events instead of waiting for events that never come.
#include "platform/device_notify.h"

namespace platform {

namespace {
constexpr const char* NoWindowLayerText =
    "device notifications need the Windows window layer, which this build of the program does not have";
}  // namespace

DeviceNotifyHandle registerDeviceNotification(const std::string& /*classGuid*/, DeviceChangeHandler /*handler*/,
                                              DeviceNotifyFailure* why)
{
    if (why) {
        why->error = DeviceNotifyError::Failed;
        why->text = NoWindowLayerText;
    }
    return 0;
}

bool unregisterDeviceNotification(DeviceNotifyHandle /*handle*/)
{
    return false;
}

// No socket on Windows: the events come as window messages.
std::string deviceNotifySocketPath() { return std::string(); }

}  // namespace platform
