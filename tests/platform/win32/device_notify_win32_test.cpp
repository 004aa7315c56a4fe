// Device notifications on Windows: the registration's hidden window takes the device-change
// message as Windows sends it. Wine announces no USB serial ports, so the test finds the window by
// its class and sends the message itself, with the broadcast structure Windows would build.
#include <windows.h>

#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/device_notify.h"
#include "platform/threads.h"
#include "platform/win32/device_notify_win32.h"

namespace {

using namespace platform;

constexpr const char* ClassText = "{5C0A19E3-8F2B-4D71-9A6C-3E1B7D2F4A80}";
constexpr GUID ClassGuid = {0x5C0A19E3, 0x8F2B, 0x4D71, {0x9A, 0x6C, 0x3E, 0x1B, 0x7D, 0x2F, 0x4A, 0x80}};
constexpr GUID OtherGuid = {0x5C0A19E3, 0x8F2B, 0x4D71, {0x9A, 0x6C, 0x3E, 0x1B, 0x7D, 0x2F, 0x4A, 0x81}};
constexpr const char* Name = "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01#0807060504030201";

// The listener's window, message-only or top-level as this Windows version has it.
HWND findListenerWindow()
{
    HWND window = FindWindowExA(HWND_MESSAGE, nullptr, DeviceNotifyWindowClass, nullptr);
    return window != nullptr ? window : FindWindowA(DeviceNotifyWindowClass, nullptr);
}

// A broadcast as Windows builds it: the header, the class and the name with its zero, the size
// telling how much of it there is.
std::vector<char> broadcast(const GUID& guid, const std::string& name, DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE)
{
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    std::vector<char> bytes(std::max(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A), nameOffset + name.size() + 1), '\0');
    auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
    b->dbcc_size = static_cast<DWORD>(nameOffset + name.size() + 1);
    b->dbcc_devicetype = deviceType;
    b->dbcc_classguid = guid;
    std::memcpy(b->dbcc_name, name.c_str(), name.size() + 1);
    return bytes;
}

class DeviceNotifyWin32 : public testing::Test {
protected:
    void SetUp() override
    {
        DeviceNotifyFailure why;
        handle_ = registerDeviceNotification(
            ClassText,
            [this](const DeviceChange& change) {
                std::lock_guard<platform::Mutex> lock(mutex_);
                events_.push_back(change);
                threads_.push_back(platform::currentThreadId());
            },
            &why);
        ASSERT_NE(handle_, 0u) << why.text;
        window_ = findListenerWindow();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override
    {
        if (handle_ != 0) {
            unregisterDeviceNotification(handle_);
        }
    }
    void send(WPARAM event, std::vector<char> bytes)
    {
        SendMessageA(window_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(bytes.data()));
    }
    std::vector<DeviceChange> events()
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        return events_;
    }

    DeviceNotifyHandle handle_ = 0;
    HWND window_ = nullptr;
    platform::Mutex mutex_;
    std::vector<DeviceChange> events_;
    std::vector<platform::ThreadId> threads_;
};

TEST_F(DeviceNotifyWin32, ArrivalsAndRemovalsOfTheClassReachTheHandlerOnTheListener)
{
    send(DBT_DEVICEARRIVAL, broadcast(ClassGuid, Name));
    send(DBT_DEVICEREMOVECOMPLETE, broadcast(ClassGuid, Name));
    std::vector<DeviceChange> got = events();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].event, DbtDeviceArrival);
    EXPECT_EQ(got[1].event, DbtDeviceRemoveComplete);
    for (const DeviceChange& change : got) {
        EXPECT_EQ(change.deviceType, DbtDevtypDeviceInterface);
        EXPECT_EQ(change.name, Name);
    }
    std::lock_guard<platform::Mutex> lock(mutex_);
    for (platform::ThreadId id : threads_) {
        EXPECT_NE(id, platform::currentThreadId()) << "the handler runs on the listener thread";
    }
}

TEST_F(DeviceNotifyWin32, OtherBroadcastsAreDropped)
{
    send(DBT_DEVICEARRIVAL, broadcast(OtherGuid, Name));                      // another class
    send(DBT_DEVICEARRIVAL, broadcast(ClassGuid, Name, DBT_DEVTYP_PORT));     // a port broadcast
    send(DBT_DEVICEQUERYREMOVE, broadcast(ClassGuid, Name));                  // not an event we take
    SendMessageA(window_, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);             // no data
    std::vector<char> tooShort = broadcast(ClassGuid, Name);
    reinterpret_cast<DEV_BROADCAST_HDR*>(tooShort.data())->dbch_size =
        static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name));  // no room for a name
    send(DBT_DEVICEARRIVAL, tooShort);
    EXPECT_TRUE(events().empty());

    // A name without its zero ends where the structure does.
    std::vector<char> unterminated = broadcast(ClassGuid, "COM11x");
    reinterpret_cast<DEV_BROADCAST_HDR*>(unterminated.data())->dbch_size -= 2;
    send(DBT_DEVICEARRIVAL, unterminated);
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0].name, "COM11");
}

TEST_F(DeviceNotifyWin32, UnregisteringStopsTheListenerAndRemovesTheWindow)
{
    ASSERT_TRUE(unregisterDeviceNotification(handle_));
    EXPECT_EQ(findListenerWindow(), nullptr);
    EXPECT_FALSE(unregisterDeviceNotification(handle_));
    handle_ = 0;
}

TEST(DeviceNotifyWin32Register, ABadClassIdentifierFails)
{
    DeviceNotifyFailure why;
    for (const char* bad : {"", "5C0A19E3-8F2B-4D71-9A6C-3E1B7D2F4A80", "{5C0A19E3-8F2B-4D71-9A6C-3E1B7D2F4A8G}",
                            "{5C0A19E3+8F2B-4D71-9A6C-3E1B7D2F4A80}"}) {
        EXPECT_EQ(registerDeviceNotification(bad, [](const DeviceChange&) {}, &why), 0u) << bad;
        EXPECT_EQ(why.error, DeviceNotifyError::Failed) << bad;
    }
}

}  // namespace
