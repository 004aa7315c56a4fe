// Posting to a window from other threads on the headless backend (run under ThreadSanitizer):
// every message arrives on the UI thread, each sender's in its order, while the UI thread keeps
// handling events; messages for a window that is gone are dropped.
#include <gtest/gtest.h>

#include <chrono>

#include "support/headless_backend.h"
#include "support/cross_thread_posts.h"
#include "platform/threads.h"

namespace {

using namespace platform::ui;
using uitest::CrossThreadSenders;
using uitest::ThreadNotingEvents;

constexpr auto WaitLimit = std::chrono::seconds(10);

class CrossThreadPost : public ::testing::Test {
protected:
    WindowId makeWindow(WindowEvents* events)
    {
        return ui_->createDialog(DialogTemplate{}, NoWindow, WindowRole::ModalDialog, events);
    }

    ScopedHeadlessBackend ui_;
};

TEST_F(CrossThreadPost, ArrivesOnTheUiThreadInEachSendersOrder)
{
    constexpr int Senders = 3;
    constexpr int PerSender = 300;
    ThreadNotingEvents events;
    WindowId w = makeWindow(&events);
    {
        CrossThreadSenders senders(*ui_, w, Senders, PerSender);
        auto deadline = std::chrono::steady_clock::now() + WaitLimit;
        for (int turn = 0; events.fromSenders() < Senders * PerSender && std::chrono::steady_clock::now() < deadline;
             ++turn) {
            // Posts from the UI thread itself interleave with the senders'.
            if (turn % 8 == 0) {
                ui_->post(w, PostedMessage{1});
            }
            ui_->pumpOne();
        }
        senders.join();
    }
    ui_->dispatchPosted();
    EXPECT_TRUE(events.deliveredInOrderOn(platform::currentThreadId(), Senders, PerSender));
    EXPECT_EQ(ui_->postedPending(), 0);
}

TEST_F(CrossThreadPost, MessagesForAWindowGoneMeanwhileAreDropped)
{
    ThreadNotingEvents events;
    WindowId w = makeWindow(&events);
    CrossThreadSenders(*ui_, w, 1, 5).join();
    CrossThreadSenders(*ui_, w + 100, 1, 5).join();  // no such window
    platform::Thread([w] { postMessageFromAnyThread(w, PostedMessage{uitest::FirstSenderMessage}); }).join();
    EXPECT_EQ(ui_->postedPending(), 11);
    ui_->destroyWindow(w);
    ui_->dispatchPosted();
    EXPECT_TRUE(events.posted.empty());
    EXPECT_EQ(ui_->postedPending(), 0);
}

}  // namespace
