// GetVersionExA as Windows answers it. The run under Wine sets the version its prefix acts as
// and names it in TARVO_TEST_WINVER (PLATFORMID.MAJOR.MINOR); without it only the shape of the
// answer is checked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "config/program_state.h"
#include "platform/windows_version.h"

namespace {

constexpr const char* ExpectedVersionVariable = "TARVO_TEST_WINVER";

TEST(WindowsVersionWin32, TheRealCallAnswersAndTheFlavourFollows)
{
    platform::WindowsVersion v = platform::windowsVersion();
    ASSERT_TRUE(v.ok);
    ASSERT_TRUE(v.platformId == VerPlatformWin32Windows || v.platformId == VerPlatformWin32Nt) << v.platformId;
    OsFlavorRecord flavour = detectOsFlavor(v);
    EXPECT_EQ(flavour.IsNT + flavour.IsWin9x, 1);

    const char* expected = std::getenv(ExpectedVersionVariable);
    if (!expected || !*expected) {
        return;
    }
    unsigned platformId = 0, major = 0, minor = 0;
    ASSERT_EQ(std::sscanf(expected, "%u.%u.%u", &platformId, &major, &minor), 3) << expected;
    EXPECT_EQ(v.platformId, platformId);
    EXPECT_EQ(v.major, major);
    EXPECT_EQ(v.minor, minor);
    if (platformId == VerPlatformWin32Windows) {
        // The 9x family repeats major and minor in the high word of the build number.
        EXPECT_EQ(v.build >> 16, (major << 8) | minor);
    }
}

}  // namespace
