// The host's own helpers behind the seams: the host folder, port entries, command-line words.
#include "platform/linux/host_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch.h"

namespace {

TEST(Host, PortEntriesOnlyForRealComNames)
{
    scratch::ScopedEnv host("TARVO_HOST", "/h/");
    EXPECT_EQ(platform::portEntryPath("COM1"), "/h/ports/com1");
    EXPECT_EQ(platform::portEntryPath("com12"), "/h/ports/com12");
    EXPECT_EQ(platform::portEntryPath("Com255"), "/h/ports/com255");
    for (const char* bad : {"COM0", "COM256", "COM03", "COM", "COM3 ", "COMx", "LPT1", "COM-1", "COM99999999999", ""}) {
        EXPECT_EQ(platform::portEntryPath(bad), "") << bad;
    }
}

TEST(Host, HostFolderFromTheEnvironment)
{
    scratch::ScopedEnv home("HOME", "/home/u");
    {
        scratch::ScopedEnv host("TARVO_HOST", "/srv/host//");
        EXPECT_EQ(platform::hostDirectory(), "/srv/host");
    }
    scratch::ScopedEnv noHost("TARVO_HOST", std::nullopt);
    {
        scratch::ScopedEnv xdg("XDG_DATA_HOME", "/data");
        EXPECT_EQ(platform::hostDirectory(), "/data/tarvo32");
    }
    scratch::ScopedEnv relativeXdg("XDG_DATA_HOME", "data");
    EXPECT_EQ(platform::hostDirectory(), "/home/u/.local/share/tarvo32");
}

TEST(Host, CommandLinesSplitAsTheCRuntimeDoes)
{
    using Words = std::vector<std::string>;
    EXPECT_EQ(platform::splitCommandLine("  a  b\tc "), (Words{"a", "b", "c"}));
    EXPECT_EQ(platform::splitCommandLine("\"a b\" c\"d e\""), (Words{"a b", "cd e"}));
    EXPECT_EQ(platform::splitCommandLine("a\\\"b"), (Words{"a\"b"}));
    EXPECT_EQ(platform::splitCommandLine("\"a\\\\\" b"), (Words{"a\\", "b"}));
    EXPECT_EQ(platform::splitCommandLine("C:\\dir\\x.exe"), (Words{"C:\\dir\\x.exe"}));
    EXPECT_EQ(platform::splitCommandLine(""), Words{});
}

}  // namespace
