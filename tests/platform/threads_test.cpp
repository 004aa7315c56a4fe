// The program's threads and locks (platform/threads.h): on Windows the system's own calls, which
// every version from 95 on has; on Linux the standard library's. Run under ThreadSanitizer on
// Linux, under Wine acting as Windows 98 and NT 4.0 on Windows.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/threads.h"

namespace {

using platform::Mutex;
using platform::RecursiveMutex;
using platform::Thread;
using platform::ThreadId;

constexpr int Workers = 4;
constexpr int IncrementsEach = 20000;

TEST(Threads, RunOnTheirOwnThreadAndJoinWithTheirWorkDone)
{
    const ThreadId caller = platform::currentThreadId();
    ThreadId seen{};
    int result = 0;
    Thread worker([&] {
        seen = platform::currentThreadId();
        result = 42;
    });
    const ThreadId reported = worker.get_id();
    ASSERT_TRUE(worker.joinable());
    worker.join();
    EXPECT_FALSE(worker.joinable());
    EXPECT_EQ(result, 42);
    EXPECT_NE(seen, caller);
    EXPECT_EQ(seen, reported);
}

TEST(Threads, MovedThreadsKeepTheirWorkerAndTheEmptyOneIsNotJoinable)
{
    std::atomic<int> ran{0};
    std::vector<Thread> threads;
    for (int i = 0; i < Workers; ++i) {
        threads.emplace_back([&ran] { ran.fetch_add(1); });
    }
    Thread moved = std::move(threads.front());
    EXPECT_FALSE(threads.front().joinable());
    EXPECT_TRUE(moved.joinable());
    moved.join();
    for (size_t i = 1; i < threads.size(); ++i) {
        threads[i].join();
    }
    EXPECT_EQ(ran.load(), Workers);
}

TEST(Threads, AMutexLetsOneThreadAtATimeIn)
{
    Mutex lock;
    long counter = 0;  // a plain value: a lost update shows the lock failed
    std::vector<Thread> threads;
    for (int i = 0; i < Workers; ++i) {
        threads.emplace_back([&] {
            for (int n = 0; n < IncrementsEach; ++n) {
                std::lock_guard<Mutex> hold(lock);
                ++counter;
            }
        });
    }
    for (Thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, static_cast<long>(Workers) * IncrementsEach);
}

TEST(Threads, ARecursiveMutexIsEnteredAgainByItsOwnerAndHeldUntilTheLastUnlock)
{
    RecursiveMutex lock;
    std::atomic<bool> otherIn{false};
    lock.lock();
    lock.lock();
    Thread other([&] {
        std::lock_guard<RecursiveMutex> hold(lock);
        otherIn = true;
    });
    lock.unlock();
    EXPECT_FALSE(otherIn.load()) << "still held once by its owner";
    lock.unlock();
    other.join();
    EXPECT_TRUE(otherIn.load());
}

}  // namespace
