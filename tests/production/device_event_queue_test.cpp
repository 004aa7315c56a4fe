// The bounded queue of device events between the listener and the station: storms of one modem
// coalesced without losing its last word, a flood dropped and counted past the bound, one wake-up
// per batch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "production/device_event_queue.h"

namespace {

using platform::DeviceChange;

DeviceChange change(uint32_t event, const std::string& serial)
{
    DeviceChange change;
    change.event = event;
    change.deviceType = platform::DbtDevtypDeviceInterface;
    change.name = "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\" + serial;
    return change;
}
DeviceChange arrival(const std::string& serial) { return change(platform::DbtDeviceArrival, serial); }
DeviceChange removal(const std::string& serial) { return change(platform::DbtDeviceRemoveComplete, serial); }

// What waits, as "A:key" and "R:key" in order.
std::vector<std::string> drain(DeviceEventQueue& queue)
{
    std::vector<std::string> out;
    DeviceChange next;
    while (queue.pop(&next)) {
        out.push_back((next.event == platform::DbtDeviceArrival ? "A:" : "R:") +
                      next.name.substr(next.name.rfind('\\') + 1));
    }
    return out;
}

TEST(DeviceEventQueueTest, StormsOfOneModemKeepItsLastWordAndOthersTheirOrder)
{
    DeviceEventQueue queue;
    queue.push(arrival("a"));
    queue.push(arrival("b"));
    queue.push(arrival("a"));  // a repeat
    EXPECT_EQ(drain(queue), (std::vector<std::string>{"A:a", "A:b"}));

    // Plugged and pulled again and again, ending plugged in: the removal that stops the old run
    // and the last arrival; ending pulled out: the removal alone.
    for (int i = 0; i < 50; ++i) {
        queue.push(removal("a"));
        queue.push(arrival("b"));
        queue.push(arrival("a"));
    }
    EXPECT_EQ(drain(queue), (std::vector<std::string>{"A:b", "R:a", "A:a"}));
    for (int i = 0; i < 50; ++i) {
        queue.push(arrival("a"));
        queue.push(removal("a"));
    }
    EXPECT_EQ(drain(queue), (std::vector<std::string>{"R:a"}));

    // Another class's events are kept apart from the class's own.
    DeviceChange other = arrival("a");
    other.otherClass = true;
    queue.push(other);
    queue.push(arrival("a"));
    EXPECT_EQ(drain(queue).size(), 2u);
}

TEST(DeviceEventQueueTest, FloodIsBoundedAndCountedWithOneWakeUp)
{
    DeviceEventQueue queue;
    int wakeUps = 0;
    for (int i = 0; i < 20000; ++i) {
        wakeUps += queue.push(arrival(std::to_string(i))) ? 1 : 0;
    }
    EXPECT_EQ(wakeUps, 1);
    EXPECT_EQ(queue.size(), DeviceEventQueueLimit);
    EXPECT_EQ(queue.takeDropped(), 20000u - DeviceEventQueueLimit);
    EXPECT_EQ(queue.takeDropped(), 0u);
    EXPECT_EQ(droppedDeviceEventsText(19744), "Tarvo32: 19744 device events dropped (more than 256 were waiting)");
    std::vector<std::string> kept = drain(queue);
    ASSERT_EQ(kept.size(), DeviceEventQueueLimit);
    EXPECT_EQ(kept.front(), "A:0");  // the oldest are kept, the newest dropped

    // Found empty: the next event wakes the owner again, once.
    EXPECT_TRUE(queue.push(arrival("z")));
    EXPECT_FALSE(queue.push(arrival("y")));
    queue.clear();
    EXPECT_TRUE(queue.push(arrival("x")));
}

}  // namespace
