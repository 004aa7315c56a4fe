// The program state fixed at start-up: OsFlavor from every Windows version the host can report,
// ProgramDirectory from the executable's path.
#include "config/program_state.h"

#include <array>
#include <gtest/gtest.h>

#include "platform/linux/host_paths.h"

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

TEST(Startup, ProgramDirectoryKeepsItsLastSeparator)
{
    EXPECT_EQ(programDirectoryOf("/opt/tarvo/Tarvo32"), "/opt/tarvo/");
    EXPECT_EQ(programDirectoryOf("C:\\Tools\\Tarvo32.exe"), "C:\\Tools\\");
    EXPECT_EQ(programDirectoryOf("/Tarvo32"), "/");
    EXPECT_EQ(programDirectoryOf("Tarvo32"), "");
    EXPECT_EQ(programDirectoryOf(""), "");
}

}  // namespace
