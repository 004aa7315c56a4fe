// What the Windows device notifications show outside platform/: the class name of the hidden
// window a registration owns (message-only from Windows 2000 on, else top-level), so a test can find the window and send it the
// device-change message Windows would send (Wine sends none for USB serial ports), and the reason
// a registration gives on a Windows without device notifications (95, NT 4.0).
// Thread rule: constants only.
#pragma once

namespace platform {

constexpr const char* DeviceNotifyWindowClass = "Tarvo32DeviceNotify";
constexpr const char* NoNotificationsText = "this Windows has no device notifications";

}  // namespace platform
