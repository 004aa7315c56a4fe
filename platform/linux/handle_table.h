// The registrations of a Linux listener kept by their handles (the datagram socket's and the
// device tree's): handles from 1 up, 0 never given, each taken out once.
// Thread rule: any thread (one lock per table).
#pragma once

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

}  // namespace platform
