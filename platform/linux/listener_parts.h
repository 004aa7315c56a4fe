// What the two Linux listeners (the datagram socket's and the device tree's) share: their
// registrations kept by handle (from 1 up, 0 never given, each taken out once), and the wait of a
// listener thread for its next event or its owner's wake-up through a pipe.
// Thread rule: the table from any thread (one lock per table); the wait on the listener thread.
#pragma once

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

template <typename Registration>
class HandleTable {
public:
    uint32_t add(std::unique_ptr<Registration> registration)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uint32_t handle = next_++;
        if (next_ == 0) {
            next_ = 1;
        }
        registrations_[handle] = std::move(registration);
        return handle;
    }

    // The registration, out of the table; null for a handle it does not hold.
    std::unique_ptr<Registration> take(uint32_t handle)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = registrations_.find(handle);
        if (found == registrations_.end()) {
            return nullptr;
        }
        std::unique_ptr<Registration> registration = std::move(found->second);
        registrations_.erase(found);
        return registration;
    }

private:
    std::mutex mutex_;
    std::map<uint32_t, std::unique_ptr<Registration>> registrations_;
    uint32_t next_ = 1;
};

// Blocks until the event source is readable (true) or the wake pipe has something, or the wait
// fails (false: the listener ends).
inline bool waitForEvent(int source, int wakeRead)
{
    pollfd fds[2] = {{source, POLLIN, 0}, {wakeRead, POLLIN, 0}};
    for (;;) {
        int ready = poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[1].revents != 0) {
            return false;  // the owner unregisters
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return true;
        }
    }
}

}  // namespace platform
