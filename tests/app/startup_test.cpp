#include "app/startup.h"

#include <array>
#include <gtest/gtest.h>

#include "app/commands.h"
#include "support/scratch.h"
#include "platform/host.h"

namespace {

struct VersionCase {
    const char* winver;
    bool ok;
    uint32_t build;  // as reported
    int nt, win9x, win98, win98se, winme;
};

const VersionCase VersionCases[] = {
    {"win95", true, 0x040003B6, 0, 1, 1, 0, 0},
    {"win98", true, 0x040A07CE, 0, 1, 1, 0, 0},
    {"win98se", true, 0x040A08AE, 0, 1, 0, 1, 0},
    {"WinMe", true, 0x045A0BB8, 0, 1, 0, 0, 1},
    {"nt4", true, 1381, 1, 0, 1, 0, 0},
    {"win2k", true, 2195, 1, 0, 1, 0, 0},
    {"winxp", true, 2600, 1, 0, 1, 0, 0},
    {"", true, 2600, 1, 0, 1, 0, 0},  // unset: the NT family
    {"1.4.10.2221", true, 0x040A08AD, 0, 1, 1, 0, 0},
    {"1.4.10.2222", true, 0x040A08AE, 0, 1, 0, 1, 0},
    {"1.4.90.2999", true, 0x045A0BB7, 0, 1, 1, 0, 0},
    {"1.4.90.3000", true, 0x045A0BB8, 0, 1, 0, 0, 1},
    {"2.6.1.7601", true, 7601, 1, 0, 1, 0, 0},
    {"0.3.10.0", true, 0, 0, 0, 1, 0, 0},  // Win32s: neither family
    {"win7", false, 0, 0, 0, 1, 0, 0},     // GetVersionExA failing
    {"1.4.10", false, 0, 0, 0, 1, 0, 0},
    {"1.4.10.x", false, 0, 0, 0, 1, 0, 0},
    {"1.4.10.2222.1", false, 0, 0, 0, 1, 0, 0},
    {"1.4.10.99999999999", false, 0, 0, 0, 1, 0, 0},
};

TEST(OsFlavor, DetectsEveryWindowsTheHostCanReport)
{
    for (const VersionCase& c : VersionCases) {
        platform::WindowsVersion v = platform::windowsVersionFrom(c.winver);
        EXPECT_EQ(v.ok, c.ok) << c.winver;
        if (c.ok) {
            EXPECT_EQ(v.build, c.build) << c.winver;
        }
        OsFlavorRecord f = detectOsFlavor(v);
        EXPECT_EQ((std::array{f.IsNT, f.IsWin9x, f.IsWin98, f.IsWin98SE, f.IsWinMe}),
                  (std::array{c.nt, c.win9x, c.win98, c.win98se, c.winme}))
            << c.winver;
    }
}

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

TEST(Startup, ProgramDirectoryKeepsItsLastSeparator)
{
    EXPECT_EQ(programDirectoryOf("/opt/tarvo/Tarvo32"), "/opt/tarvo/");
    EXPECT_EQ(programDirectoryOf("C:\\Tools\\Tarvo32.exe"), "C:\\Tools\\");
    EXPECT_EQ(programDirectoryOf("/Tarvo32"), "/");
    EXPECT_EQ(programDirectoryOf("Tarvo32"), "");
    EXPECT_EQ(programDirectoryOf(""), "");
}

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

TEST(Commands, PortArguments)
{
    EXPECT_EQ(parsePortArgument("COM3"), 3);
    EXPECT_EQ(parsePortArgument("com3"), 3);
    EXPECT_EQ(parsePortArgument("3"), 3);
    EXPECT_EQ(parsePortArgument("COM255"), 255);
    for (const char* bad : {"COM0", "0", "COM256", "COM", "", "3a", "COM-3", "LPT3", "99999999999"}) {
        EXPECT_EQ(parsePortArgument(bad), 0) << bad;
    }
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
