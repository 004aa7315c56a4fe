#include "production/device_event_queue.h"

#include <algorithm>

#include "production/station.h"

bool DeviceEventQueue::push(const platform::DeviceChange& change)
{
    std::string key = deviceKeyOf(change.name);
    std::lock_guard<platform::Mutex> lock(mutex_);
    auto sameKey = [&](const Waiting& w) { return w.key == key && w.change.otherClass == change.otherClass; };
    auto last = std::find_if(events_.rbegin(), events_.rend(), sameKey);
    bool removal = change.event == platform::DbtDeviceRemoveComplete;
    if (last != events_.rend() && last->change.event == change.event && last->change.name == change.name) {
        return false;  // a repeat of what already waits
    }
    // A removal makes the key's earlier events moot; an arrival keeps only the removal before
    // it, which must still stop the row's old worker.
    bool keepLast = !removal && last != events_.rend() && last->change.event == platform::DbtDeviceRemoveComplete;
    for (size_t i = events_.size(); i-- > 0;) {
        if (sameKey(events_[i])) {
            if (keepLast) {
                keepLast = false;  // the newest of the key comes first from the back
                continue;
            }
            events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    if (events_.size() >= DeviceEventQueueLimit) {
        ++dropped_;
        return false;
    }
    events_.push_back(Waiting{change, std::move(key)});
    if (wakePending_) {
        return false;
    }
    wakePending_ = true;
    return true;
}

bool DeviceEventQueue::pop(platform::DeviceChange* change)
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    if (events_.empty()) {
        wakePending_ = false;
        return false;
    }
    *change = std::move(events_.front().change);
    events_.pop_front();
    return true;
}

uint64_t DeviceEventQueue::takeDropped()
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    uint64_t dropped = dropped_;
    dropped_ = 0;
    return dropped;
}

size_t DeviceEventQueue::size() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return events_.size();
}

void DeviceEventQueue::clear()
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    events_.clear();
    wakePending_ = false;
}

std::string droppedDeviceEventsText(uint64_t dropped)
{
    return "Tarvo32: " + std::to_string(dropped) + " device events dropped (more than " +
           std::to_string(DeviceEventQueueLimit) + " were waiting)";
}
