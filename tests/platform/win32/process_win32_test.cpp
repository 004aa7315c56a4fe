// CreateProcessA with its wait, against this very test program started again as the child, to
// run one test that ends at once, or stays when TARVO_TEST_CHILD_WAIT_MS asks it to (the child
// inherits the environment, as the program's own children do). The child says little: under Wine
// a hidden child writing a page of text to its absent console took more than 20 s to end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "platform/executable_path.h"
#include "platform/process.h"
#include "support/scratch.h"

namespace {

constexpr const char* ChildWaitVariable = "TARVO_TEST_CHILD_WAIT_MS";
constexpr const char* ChildTest = " --gtest_filter=ProcessChild.StaysWhenAsked";
constexpr uint32_t ChildWaitMs = 3000;
constexpr uint32_t ShortWaitMs = 200;
constexpr uint32_t EndLimitMs = 20000;  // a Wine process starting on a busy machine

// A path in quotes, as a command line needs it (appended piece by piece: g++ 12 warns wrongly
// about a chain of + on a quote).
std::string quoted(const std::string& path)
{
    std::string text(1, '"');
    text.append(path);
    text.push_back('"');
    return text;
}

std::string self() { return quoted(platform::executablePath()); }

// The child's side: waits, so the parent can see a wait run out.
TEST(ProcessChild, StaysWhenAsked)
{
    const char* wait = std::getenv(ChildWaitVariable);
    if (!wait || !*wait) {
        GTEST_SKIP() << "only as the child of ProcessWin32";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(wait)));
}

TEST(ProcessWin32, StartsHiddenAndSeesTheEnd)
{
    scratch::ScopedEnv noWait(ChildWaitVariable, std::nullopt);
    platform::ProcessHandle child = platform::startHiddenProcess(self() + ChildTest);
    ASSERT_NE(child, platform::NoProcess);
    EXPECT_TRUE(platform::waitForProcessEnd(child, EndLimitMs));
}

TEST(ProcessWin32, AWaitRunsOutWhileTheChildRunsOn)
{
    scratch::ScopedEnv wait(ChildWaitVariable, std::to_string(ChildWaitMs));
    platform::ProcessHandle child = platform::startHiddenProcess(self() + ChildTest);
    ASSERT_NE(child, platform::NoProcess);
    EXPECT_FALSE(platform::waitForProcessEnd(child, ShortWaitMs));
    EXPECT_TRUE(platform::waitForProcessEnd(child, EndLimitMs));
}

TEST(ProcessWin32, AMissingProgramDoesNotStart)
{
    scratch::TempDir dir;
    EXPECT_EQ(platform::startHiddenProcess(quoted(dir.file("RebootNT.exe"))), platform::NoProcess);
    EXPECT_EQ(platform::startHiddenProcess(""), platform::NoProcess);
}

}  // namespace
