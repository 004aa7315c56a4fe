#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "config/program_state.h"
#include "support/scratch.h"
#include "platform/clock.h"

namespace {

using Steady = std::chrono::steady_clock;

long msSince(Steady::time_point t0)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0).count());
}

std::string contents(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits (really) for a condition that another process brings about.
template <typename F>
bool eventually(F condition)
{
    for (int i = 0; i < 200; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A script that reports its pid and then outlives any wait.
std::string lingeringScript(const scratch::TempDir& dir)
{
    return dir.write("linger.sh", "#!/bin/sh\necho $$ > '" + dir.file("pid") + "'\nexec sleep 60\n", true);
}

pid_t lingeringPid(const scratch::TempDir& dir)
{
    EXPECT_TRUE(eventually([&] { return !contents(dir.file("pid")).empty(); }));
    return static_cast<pid_t>(std::atol(contents(dir.file("pid")).c_str()));
}

// Ends the script this test started; the background reaper must then collect it (a zombie would
// keep its /proc entry).
void endLingering(pid_t pid)
{
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0) << "should still be running";
    kill(pid, SIGKILL);
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }));
}

TEST(RunAndWait, StartsHiddenWithItsArgumentsAndWaitsForTheEnd)
{
    scratch::TempDir dir;
    int held = ::open(dir.file("held").c_str(), O_CREAT | O_WRONLY, 0600);  // inheritable
    ASSERT_GE(held, 0);
    std::string script = dir.write("job.sh",
                                   "#!/bin/sh\nsleep 0.3\n"
                                   "for fd in 0 1 2; do s=\"$s$(readlink /proc/$$/fd/$fd) \"; done\n"
                                   "echo \"$s\" > '" + dir.file("out") + "'\n"
                                   "[ -e /proc/$$/fd/" + std::to_string(held) + " ] && echo leaked >> '" + dir.file("out") + "'\n"
                                   "echo \"$1|$2\" >> '" + dir.file("out") + "'\n",
                                   true);
    auto t0 = Steady::now();
    EXPECT_NE(runAndWait(script + " \"a b\" c"), 0);
    long spent = msSince(t0);
    ::close(held);
    EXPECT_GE(spent, 300 + static_cast<long>(RunAndWaitSettleMs));
    EXPECT_LT(spent, 5000);
    EXPECT_EQ(contents(dir.file("out")), "/dev/null /dev/null /dev/null \na b|c\n");
}

TEST(RunAndWait, FindsAnUnquotedProgramInAFolderWithSpaces)
{
    scratch::TempDir dir;
    dir.write("My Tools/RebootNT.exe", "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran\"\n", true);
    EXPECT_NE(runAndWait(dir.dir() + "My Tools/RebootNT.exe"), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file("My Tools/ran")));
}

TEST(RunAndWait, AFailedStartReturnsZeroAtOnce)
{
    scratch::TempDir dir;
    std::string marker = dir.file("ran");
    std::string script = dir.write("ok.sh", "#!/bin/sh\ntouch '" + marker + "'\n", true);
    std::string tooLong = script + " " + std::string(RunAndWaitCommandLimit - script.size(), 'x');
    auto t0 = Steady::now();
    EXPECT_EQ(runAndWait(dir.file("missing.exe")), 0);
    EXPECT_EQ(runAndWait(dir.write("plain.txt", "#!/bin/sh\n")), 0);  // not executable
    EXPECT_EQ(runAndWait(""), 0);
    EXPECT_EQ(runAndWait(tooLong), 0);
    EXPECT_LT(msSince(t0), static_cast<long>(RunAndWaitSettleMs));
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(RunAndWait, MeasuresItsLimitOnThePlatformClock)
{
    scratch::TempDir dir;
    std::string script = lingeringScript(dir);
    {
        platform::ScopedVirtualClock clock;
        EXPECT_NE(runAndWait(script), 0);
        EXPECT_GE(clock->now(), RunAndWaitLimitMs + RunAndWaitSettleMs);
    }
    endLingering(lingeringPid(dir));
}

TEST(RunAndWait, StopsWaitingAfterFifteenSecondsAndLeavesTheProgramRunning)
{
    scratch::TempDir dir;
    std::string script = lingeringScript(dir);
    auto t0 = Steady::now();
    EXPECT_NE(runAndWait(script), 0);
    long spent = msSince(t0);
    EXPECT_GE(spent, static_cast<long>(RunAndWaitLimitMs + RunAndWaitSettleMs));
    EXPECT_LT(spent, static_cast<long>(RunAndWaitLimitMs + RunAndWaitSettleMs + 1500));
    endLingering(lingeringPid(dir));
}

}  // namespace
