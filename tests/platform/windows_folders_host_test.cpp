// The Windows folders as this host stands them in: the Windows folder below $TARVO_HOST, the
// system folder named by the family TARVO_WINVER gives, and Windows paths turned into the host's
// own spelling of each step. (The Windows build asks Windows itself: tests/platform/win32/.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/windows_folders.h"
#include "support/scratch.h"

namespace {

std::string windowsDirectory()
{
    char buffer[platform::MaxPathChars];
    uint32_t n = platform::getWindowsDirectory(buffer, sizeof buffer);
    return n == 0 || n >= sizeof buffer ? std::string() : std::string(buffer, n);
}

std::string systemDirectory()
{
    char buffer[platform::MaxPathChars];
    uint32_t n = platform::getSystemDirectory(buffer, sizeof buffer);
    return n == 0 || n >= sizeof buffer ? std::string() : std::string(buffer, n);
}

class HostWindowsFolders : public testing::Test {
protected:
    scratch::TempDir host;
    scratch::ScopedEnv hostVariable{"TARVO_HOST", host.dir()};
};

TEST_F(HostWindowsFolders, TheFoldersFollowTheFamilyAndFailWithoutAWindowsFolder)
{
    {
        scratch::ScopedEnv winver("TARVO_WINVER", "win98se");
        EXPECT_EQ(windowsDirectory(), "");
        EXPECT_EQ(systemDirectory(), "");
    }
    std::filesystem::create_directories(host.file("WINDOWS/system"));
    struct Case {
        const char* winver;
        const char* system;
    } cases[] = {
        {"win95", "WINDOWS/system"},  // the host's own spelling wins where it exists
        {"winme", "WINDOWS/system"},
        {"win2k", "WINDOWS/SYSTEM32"},
        {"", "WINDOWS/SYSTEM32"},
    };
    for (const Case& c : cases) {
        scratch::ScopedEnv winver("TARVO_WINVER", std::string(c.winver));
        EXPECT_EQ(windowsDirectory(), host.file("WINDOWS")) << c.winver;
        EXPECT_EQ(systemDirectory(), host.file(c.system)) << c.winver;
    }
    char tiny[4];
    EXPECT_EQ(platform::getWindowsDirectory(tiny, sizeof tiny), host.file("WINDOWS").size() + 1)
        << "a buffer too small is told the size it needs";
}

TEST_F(HostWindowsFolders, PathStepsAreMatchedWithoutRegardToCase)
{
    host.write("delivery/WIN98/DELFILE/INF/mdmx.inf", "x");
    host.write("windows/inf/other/Vendormdmx.inf", "x");
    host.write("windows/inf/Other.txt", "x");
    struct Case {
        std::string windowsPath;
        std::string hostPath;
    } cases[] = {
        {host.dir() + "delivery\\Win98\\DelFile\\Inf\\MDMX.INF", host.file("delivery/WIN98/DELFILE/INF/mdmx.inf")},
        {host.dir() + "windows\\INF\\Other\\VENDORMDMX.inf", host.file("windows/inf/other/Vendormdmx.inf")},
        {host.dir() + "windows\\INF\\other.TXT", host.file("windows/inf/Other.txt")},
        {host.dir() + "windows\\INF\\New\\File.inf", host.file("windows/inf/New/File.inf")},
        {host.dir() + "windows\\.\\inf\\..\\INF\\\\Other", host.file("windows/inf/other")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::hostPath(c.windowsPath), c.hostPath) << c.windowsPath;
    }
}

// Names matched one after the other in one folder, with deletions, copies and another process's
// changes in between: each match sees the folder as it is then.
TEST_F(HostWindowsFolders, MatchingFollowsEveryChangeToTheFolder)
{
    const std::string inf = host.file("windows/INF/");
    host.write("windows/INF/A.INF", "upper");
    host.write("windows/INF/a.inf", "lower");
    host.write("new.inf", "new");
    EXPECT_EQ(platform::hostPath(inf + "a.Inf"), inf + "A.INF");  // listing order: A before a
    EXPECT_TRUE(platform::deleteFile(inf + "a.Inf"));
    EXPECT_EQ(platform::hostPath(inf + "a.Inf"), inf + "a.inf");
    EXPECT_TRUE(platform::copyFile(host.file("new.inf"), inf + "NEW.INF", false));
    EXPECT_EQ(platform::hostPath(inf + "new.INF"), inf + "NEW.INF");
    usleep(30 * 1000);  // folder times tell changes apart in steps of a few milliseconds
    std::filesystem::rename(inf + "a.inf", inf + "b.inf");  // another process's change
    EXPECT_EQ(platform::hostPath(inf + "B.INF"), inf + "b.inf");
    EXPECT_EQ(platform::hostPath(inf + "a.Inf"), inf + "a.Inf");  // nothing: as written
    EXPECT_TRUE(platform::deleteFile(inf + "B.inf"));
    EXPECT_FALSE(std::filesystem::exists(inf + "b.inf"));
}

}  // namespace
