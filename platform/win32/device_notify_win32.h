// What the Windows device notifications show outside platform/: the class name of the hidden
// message-only window a registration owns, so a test can find the window and send it the
// device-change message Windows would send (Wine sends none for USB serial ports).
// Thread rule: constants only.
#pragma once

namespace platform {

constexpr const char* DeviceNotifyWindowClass = "Tarvo32DeviceNotify";

}  // namespace platform
