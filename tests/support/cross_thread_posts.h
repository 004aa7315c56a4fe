// Posting to a window from other threads, for the tests of every window backend: sender threads
// that post numbered messages while the UI thread keeps handling events, and a window's events
// that note what arrived and on which thread.
// Thread rule: ThreadNotingEvents is called on the UI thread only (that is what the tests check);
// the senders post from their own threads.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/threads.h"

namespace uitest {

// Message numbers of the senders: sender k posts FirstSenderMessage + k, wParam 0, 1, 2, ...
constexpr uint32_t FirstSenderMessage = 0x0400 + 200;  // WM_USER + 200

struct ThreadNotingEvents : platform::ui::WindowEvents {
    std::vector<platform::ui::PostedMessage> posted;
    std::vector<platform::ThreadId> threads;

    void windowTimer(int) override {}
    void windowCommand(int, platform::ui::Notification) override {}
    void windowPosted(const platform::ui::PostedMessage& message) override
    {
        posted.push_back(message);
        threads.push_back(platform::currentThreadId());
    }
    bool windowKey(int, platform::ui::Key) override { return false; }
    void windowClose() override {}
    void wizardButton(platform::ui::WizardButton) override {}

    int fromSenders() const
    {
        int n = 0;
        for (const platform::ui::PostedMessage& m : posted) {
            n += m.message >= FirstSenderMessage ? 1 : 0;
        }
        return n;
    }

    // True when every message came on `uiThread` and each sender's messages came complete and in
    // the order they were posted (messages numbered below the senders' are not counted).
    bool deliveredInOrderOn(platform::ThreadId uiThread, int senders, int perSender) const
    {
        std::vector<uintptr_t> next(static_cast<size_t>(senders), 0);
        for (size_t i = 0; i < posted.size(); ++i) {
            if (threads[i] != uiThread) {
                return false;
            }
            if (posted[i].message < FirstSenderMessage) {
                continue;
            }
            uint32_t sender = posted[i].message - FirstSenderMessage;
            if (sender >= next.size() || posted[i].wParam != next[sender]) {
                return false;
            }
            ++next[sender];
        }
        for (uintptr_t n : next) {
            if (n != static_cast<uintptr_t>(perSender)) {
                return false;
            }
        }
        return true;
    }
};

// Threads that post to a window through the backend's postFromAnyThread, all starting at once;
// joined when the object goes.
class CrossThreadSenders {
public:
    CrossThreadSenders(platform::ui::Backend& backend, platform::ui::WindowId window, int senders, int perSender)
    {
        for (int k = 0; k < senders; ++k) {
            threads_.emplace_back([&backend, window, k, perSender] {
                for (int i = 0; i < perSender; ++i) {
                    platform::ui::PostedMessage m;
                    m.message = FirstSenderMessage + static_cast<uint32_t>(k);
                    m.wParam = static_cast<uintptr_t>(i);
                    backend.postFromAnyThread(window, m);
                }
            });
        }
    }
    ~CrossThreadSenders() { join(); }
    CrossThreadSenders(const CrossThreadSenders&) = delete;
    CrossThreadSenders& operator=(const CrossThreadSenders&) = delete;

    void join()
    {
        for (platform::Thread& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
    }

private:
    std::vector<platform::Thread> threads_;
};

}  // namespace uitest
