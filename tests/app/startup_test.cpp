// Start-up fills the program state from the host.
#include "app/startup.h"

#include <gtest/gtest.h>

#include "platform/executable_path.h"
#include "support/scratch.h"

namespace {

TEST(Startup, InitialisesTheProgramState)
{
    scratch::ScopedEnv winver("TARVO_WINVER", "win98se");
    RebootRequested = 1;
    initialiseProgramState();
    EXPECT_EQ(OsFlavor.IsWin98SE, 1);
    EXPECT_EQ(OsFlavor.IsWin9x, 1);
    EXPECT_EQ(RebootRequested, 0);
    std::string exe = platform::executablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(ProgramDirectory + "tarvo_tests", exe);
}

}  // namespace
