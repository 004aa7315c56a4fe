// Waiting in real time for something another thread or process does: polls the condition until
// it holds or the limit has passed.
// Thread rule: the calling test thread; the condition reads what the other side writes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace test_support {

inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      std::chrono::milliseconds step = std::chrono::milliseconds(2))
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(step);
    }
    return true;
}

}  // namespace test_support
