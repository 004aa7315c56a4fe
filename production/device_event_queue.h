// The device events on their way from the listener thread to the station's UI thread: a bounded
// queue that coalesces what a plug storm repeats, so that a flood of datagrams costs neither
// memory nor the rows' polls.
//
// At most DeviceEventQueueLimit events wait; one more is dropped and counted. Events are keyed
// by their device key (deviceKeyOf): an event repeating the key's last waiting event is dropped
// as a repeat, and a key's older waiting events go once a later one makes them moot (a
// removal: everything before it; an arrival: everything but the removal before it). So a key has
// at most a removal and an arrival waiting, in that order, and the last event of every key is
// kept: a storm that ends on an arrival still starts that modem. Events of different keys keep
// their order.
//
// Results: push says whether the owner must be woken (see there); pop gives the oldest event.
// Thread rule: push from the listener thread, everything else from the owner's UI thread; one
// mutex guards the queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/device_notify.h"
#include "platform/threads.h"

constexpr size_t DeviceEventQueueLimit = 256;  // events waiting at most

class DeviceEventQueue {
public:
    // Queues an event (or drops it, see above). True when the owner is to be woken: the first
    // event since the owner last found the queue empty. Later pushes return false until then,
    // so a flood posts one wake-up, not one per event.
    bool push(const platform::DeviceChange& change);
    // The oldest waiting event; false when none waits (the next push wakes the owner again).
    bool pop(platform::DeviceChange* change);
    // Events dropped since the last call (the queue was full), for a notice.
    uint64_t takeDropped();
    size_t size() const;
    // Drops every waiting event; the next push wakes the owner.
    void clear();

private:
    struct Waiting {
        platform::DeviceChange change;
        std::string key;
    };

    mutable platform::Mutex mutex_;
    std::deque<Waiting> events_;
    uint64_t dropped_ = 0;
    bool wakePending_ = false;
};

// The notice for dropped events: "Tarvo32: 19744 device events dropped (more than 256 were
// waiting)".
std::string droppedDeviceEventsText(uint64_t dropped);
