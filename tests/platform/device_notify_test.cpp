// Device notifications over $TARVO_HOST/devnotify: the datagram format, events reaching the
// handler in order on the listener thread, the socket file's life (a stale one replaced, a live
// one refused, removed at the end).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/device_notify.h"
#include "support/scratch.h"
#include "support/station_steps.h"

namespace {

using platform::DeviceChange;

constexpr const char* Guid = "{5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15}";
constexpr const char* Name = "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\0807060504030201";

TEST(DeviceNotifyTest, DatagramFormat)
{
    struct Case {
        std::string datagram;
        bool accepted;
        uint32_t event;
        std::string name;
    };
    const std::string g = Guid;
    const Case cases[] = {
        {"arrival " + g + " " + Name, true, platform::DbtDeviceArrival, Name},
        {"removal " + g + " " + Name, true, platform::DbtDeviceRemoveComplete, Name},
        {"arrival {5c0a19e3-7d42-4b8f-a1c6-2e93d07b4f15} x y", true, platform::DbtDeviceArrival, "x y"},
        {"arrival " + g + " name\n", true, platform::DbtDeviceArrival, "name"},
        {"arrival " + g + " name\r\n", true, platform::DbtDeviceArrival, "name"},
        {"arrival " + g + " name  ", true, platform::DbtDeviceArrival, "name  "},
        {std::string("arrival ") + Guid + " ab\0cd", true, platform::DbtDeviceArrival, "ab"},
        {"arrival " + g + " ", true, platform::DbtDeviceArrival, ""},
        {"arrival {5C0A19E4-7D42-4B8F-A1C6-2E93D07B4F15} name", true, platform::DbtDeviceArrival, "name"},
        {"Arrival " + g + " name", false, 0, ""},
        {"attach " + g + " name", false, 0, ""},
        {"arrival " + g, false, 0, ""},
        {"arrival " + g + "name", false, 0, ""},
        {"arrival  " + g + " name", false, 0, ""},
        {"arrival 5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15 name", false, 0, ""},
        {"arrival {5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15 name", false, 0, ""},
        {"arrival", false, 0, ""},
        {"", false, 0, ""},
    };
    for (const Case& c : cases) {
        DeviceChange change;
        bool accepted = platform::parseDeviceDatagram(c.datagram.data(), c.datagram.size(), Guid, &change);
        EXPECT_EQ(accepted, c.accepted) << c.datagram;
        if (accepted && c.accepted) {
            EXPECT_EQ(change.event, c.event) << c.datagram;
            EXPECT_EQ(change.deviceType, platform::DbtDevtypDeviceInterface);
            EXPECT_EQ(change.name, c.name) << c.datagram;
            // Another class is passed on marked, so that the station can say why it ignores it.
            EXPECT_EQ(change.otherClass, c.datagram.find("E4-") != std::string::npos) << c.datagram;
        }
    }
}

class DeviceNotifyChannelTest : public ::testing::Test {
protected:
    static bool send(const std::string& datagram) { return station_steps::sendDeviceDatagram(datagram); }

    platform::DeviceNotifyHandle listen(platform::DeviceNotifyFailure* why = nullptr)
    {
        return platform::registerDeviceNotification(
            Guid,
            [this](const DeviceChange& change) {
                std::lock_guard<std::mutex> lock(mutex_);
                events_.push_back(change);
            },
            why);
    }

    std::vector<DeviceChange> waitForEvents(size_t count)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (events_.size() >= count || std::chrono::steady_clock::now() > end) {
                    return events_;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    scratch::TempDir host_;
    scratch::ScopedEnv hostVariable_{"TARVO_HOST", host_.dir() + "h"};
    std::mutex mutex_;
    std::vector<DeviceChange> events_;
};

TEST_F(DeviceNotifyChannelTest, EventsReachTheHandlerInOrderOnAnOwnersSocket)
{
    std::filesystem::create_directories(host_.dir() + "h");
    // Whatever the umask, the socket is its owner's alone.
    mode_t umaskBefore = umask(0);
    platform::DeviceNotifyHandle handle = listen();
    umask(umaskBefore);
    ASSERT_NE(handle, 0u);
    const std::string path = platform::deviceNotifySocketPath();
    EXPECT_TRUE(std::filesystem::is_socket(path));
    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::string g = Guid;
    ASSERT_TRUE(send("arrival " + g + " " + Name));
    ASSERT_TRUE(send("arrival {5C0A19E4-7D42-4B8F-A1C6-2E93D07B4F15} other-class"));
    ASSERT_TRUE(send("garbage"));
    ASSERT_TRUE(send("removal " + g + " \\" + std::string(platform::DeviceDatagramLimit, 'x')));  // too long
    ASSERT_TRUE(send("removal " + g + " " + Name));
    std::vector<DeviceChange> events = waitForEvents(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event, platform::DbtDeviceArrival);
    EXPECT_EQ(events[0].name, Name);
    EXPECT_FALSE(events[0].otherClass);
    EXPECT_EQ(events[1].name, "other-class");
    EXPECT_TRUE(events[1].otherClass);
    EXPECT_EQ(events[2].event, platform::DbtDeviceRemoveComplete);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(waitForEvents(0).size(), 3u);

    // A second station on the same host is refused while the first listens.
    platform::DeviceNotifyFailure why;
    EXPECT_EQ(listen(&why), 0u);
    EXPECT_EQ(why.error, platform::DeviceNotifyError::InUse);
    EXPECT_NE(why.text.find(path), std::string::npos);

    EXPECT_TRUE(platform::unregisterDeviceNotification(handle));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(send("arrival " + g + " " + Name));
    EXPECT_FALSE(platform::unregisterDeviceNotification(handle));
}

TEST_F(DeviceNotifyChannelTest, StaleSocketReplacedOtherFilesKept)
{
    std::filesystem::create_directories(host_.dir() + "h");
    const std::string path = platform::deviceNotifySocketPath();

    // A socket file whose owner has gone without removing it.
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    ASSERT_TRUE(std::filesystem::exists(path));

    platform::DeviceNotifyHandle handle = listen();
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(send(std::string("arrival ") + Guid + " n"));
    EXPECT_EQ(waitForEvents(1).size(), 1u);
    EXPECT_TRUE(platform::unregisterDeviceNotification(handle));

    // Something that is no socket is never removed.
    host_.write("h/devnotify", "keep me");
    platform::DeviceNotifyFailure why;
    EXPECT_EQ(listen(&why), 0u);
    EXPECT_EQ(why.error, platform::DeviceNotifyError::Failed);
    std::ifstream kept(path);
    std::string text((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "keep me");
}

}  // namespace
