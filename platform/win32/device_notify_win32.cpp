// Device notifications on Windows: each registration runs a listener thread that owns a hidden
// window (message-only from Windows 2000 on, else top-level and never shown: message_window.h)
// registered with RegisterDeviceNotificationA for the interface class, and pumps its messages. WM_DEVICECHANGE arrives there (sent messages are delivered inside the
// thread's GetMessageA), and arrivals and complete removals of the class reach the handler on that
// thread. Unregistering posts the window a stop message and joins the thread, which unregisters
// the notification and destroys the window on its way out.
// RegisterDeviceNotificationA and UnregisterDeviceNotification are looked up at run time: Windows 95
// and NT 4.0 lack them, and there a registration fails as a refused one does.
#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>

#include "platform/device_notify.h"
#include "platform/threads.h"
#include "platform/win32/device_notify_win32.h"
#include "platform/win32/message_window.h"

namespace platform {

namespace {

constexpr UINT StopMessage = WM_APP + 1;  // to the window: end the listener's message loop
constexpr size_t GuidTextChars = 38;      // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
constexpr const char* NotifyLibrary = "user32.dll";

using RegisterCall = HDEVNOTIFY(WINAPI*)(HANDLE, LPVOID, DWORD);
using UnregisterCall = BOOL(WINAPI*)(HDEVNOTIFY);

// The two calls of this Windows, or null where it has none (95, NT 4.0).
struct NotifyCalls {
    RegisterCall registerNotification = nullptr;
    UnregisterCall unregisterNotification = nullptr;
};

const NotifyCalls& notifyCalls()
{
    static const NotifyCalls calls = [] {
        NotifyCalls found;
        HMODULE user32 = GetModuleHandleA(NotifyLibrary);
        if (user32) {
            found.registerNotification = reinterpret_cast<RegisterCall>(
                reinterpret_cast<void*>(GetProcAddress(user32, "RegisterDeviceNotificationA")));
            found.unregisterNotification = reinterpret_cast<UnregisterCall>(
                reinterpret_cast<void*>(GetProcAddress(user32, "UnregisterDeviceNotification")));
        }
        if (!found.registerNotification || !found.unregisterNotification) {
            found = NotifyCalls();
        }
        return found;
    }();
    return calls;
}

struct Registration {
    GUID classGuid{};
    DeviceChangeHandler handler;
    HWND window = nullptr;
    Thread listener;
    HANDLE started = nullptr;     // set by the listener once it knows how its setup went
    std::string startProblem;     // the listener's, read by the owner after `started`
};

Mutex tableMutex;
std::map<DeviceNotifyHandle, std::unique_ptr<Registration>> registrations;
DeviceNotifyHandle nextHandle = 1;

void fail(DeviceNotifyFailure* why, DeviceNotifyError error, const std::string& text)
{
    if (why) {
        why->error = error;
        why->text = text;
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into a GUID: the first three groups are numbers, the
// last two are bytes in the order written.
bool parseGuid(const std::string& text, GUID* guid)
{
    if (text.size() != GuidTextChars || text.front() != '{' || text.back() != '}') {
        return false;
    }
    unsigned char bytes[16];
    size_t count = 0;
    for (size_t i = 1; i + 1 < text.size();) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != '-') {
                return false;
            }
            ++i;
            continue;
        }
        int high = hexValue(text[i]);
        int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0 || count == sizeof bytes) {
            return false;
        }
        bytes[count++] = static_cast<unsigned char>(high << 4 | low);
        i += 2;
    }
    if (count != sizeof bytes) {
        return false;
    }
    guid->Data1 = static_cast<unsigned long>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    guid->Data2 = static_cast<unsigned short>(bytes[4] << 8 | bytes[5]);
    guid->Data3 = static_cast<unsigned short>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid->Data4, bytes + 8, sizeof guid->Data4);
    return true;
}

// The interface broadcast of one event; false for anything else (another device type, another
// class, a structure too short to hold a name).
bool readBroadcast(WPARAM event, LPARAM data, const GUID& classGuid, DeviceChange* change)
{
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || data == 0) {
        return false;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE || header->dbch_size <= nameOffset) {
        return false;
    }
    const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data);
    if (!IsEqualGUID(broadcast->dbcc_classguid, classGuid)) {
        return false;
    }
    // The name ends at its zero or at the end of the structure, whichever comes first.
    const char* name = broadcast->dbcc_name;
    const size_t room = header->dbch_size - nameOffset;
    const void* zero = std::memchr(name, '\0', room);
    change->event = static_cast<uint32_t>(event);
    change->deviceType = DbtDevtypDeviceInterface;
    change->name.assign(name, zero ? static_cast<const char*>(zero) - name : room);
    return true;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* registration = reinterpret_cast<Registration*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_DEVICECHANGE && registration) {
        DeviceChange change;
        if (readBroadcast(wParam, lParam, registration->classGuid, &change)) {
            registration->handler(change);
        }
        return TRUE;
    }
    if (message == StopMessage) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerWindowClass()
{
    static const bool registered = [] {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProcedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = DeviceNotifyWindowClass;
        return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

std::string lastErrorText(const char* call)
{
    return std::string(call) + " failed (error " + std::to_string(GetLastError()) + ")";
}

void reportStart(Registration* registration, const std::string& problem)
{
    registration->startProblem = problem;
    SetEvent(registration->started);
}

// The listener thread: makes the window and the registration, tells the owner how that went,
// then pumps messages until the stop message.
void listen(Registration* registration)
{
    const NotifyCalls& calls = notifyCalls();
    HWND window = CreateWindowExA(0, DeviceNotifyWindowClass, "", 0, 0, 0, 0, 0, messageWindowParent(),
                                  nullptr, GetModuleHandleA(nullptr), registration);
    if (!window) {
        reportStart(registration, lastErrorText("CreateWindowExA"));
        return;
    }
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = registration->classGuid;
    HDEVNOTIFY notify = calls.registerNotification(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!notify) {
        reportStart(registration, lastErrorText("RegisterDeviceNotificationA"));
        DestroyWindow(window);
        return;
    }
    registration->window = window;
    reportStart(registration, std::string());

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    calls.unregisterNotification(notify);
    DestroyWindow(window);
}

}  // namespace

DeviceNotifyHandle registerDeviceNotification(const std::string& classGuid, DeviceChangeHandler handler,
                                              DeviceNotifyFailure* why)
{
    fail(why, DeviceNotifyError::None, "");
    auto registration = std::make_unique<Registration>();
    if (!parseGuid(classGuid, &registration->classGuid)) {
        fail(why, DeviceNotifyError::Failed, classGuid + ": not a class identifier");
        return 0;
    }
    if (!registerWindowClass()) {
        fail(why, DeviceNotifyError::Failed, lastErrorText("RegisterClassExA"));
        return 0;
    }
    if (!notifyCalls().registerNotification) {
        fail(why, DeviceNotifyError::Failed, NoNotificationsText);
        return 0;
    }
    registration->handler = std::move(handler);
    registration->started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!registration->started) {
        fail(why, DeviceNotifyError::Failed, lastErrorText("CreateEventA"));
        return 0;
    }
    Registration* listening = registration.get();
    try {
        registration->listener = Thread([listening] { listen(listening); });
    } catch (const std::exception&) {
        CloseHandle(registration->started);
        fail(why, DeviceNotifyError::Failed, "no listener thread");
        return 0;
    }
    WaitForSingleObject(registration->started, INFINITE);
    CloseHandle(registration->started);
    registration->started = nullptr;
    if (!registration->startProblem.empty()) {
        registration->listener.join();
        fail(why, DeviceNotifyError::Failed, registration->startProblem);
        return 0;
    }
    std::lock_guard<Mutex> lock(tableMutex);
    DeviceNotifyHandle handle = nextHandle++;
    if (nextHandle == 0) {
        nextHandle = 1;
    }
    registrations[handle] = std::move(registration);
    return handle;
}

bool unregisterDeviceNotification(DeviceNotifyHandle handle)
{
    std::unique_ptr<Registration> registration;
    {
        std::lock_guard<Mutex> lock(tableMutex);
        auto found = registrations.find(handle);
        if (found == registrations.end()) {
            return false;
        }
        registration = std::move(found->second);
        registrations.erase(found);
    }
    PostMessageA(registration->window, StopMessage, 0, 0);
    if (registration->listener.joinable()) {
        registration->listener.join();
    }
    return true;
}

// No socket on Windows: the events come as window messages.
std::string deviceNotifySocketPath() { return std::string(); }

}  // namespace platform
