#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/windows_folders.h"
#include "support/scratch.h"

namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every name a pattern lists, in order.
std::vector<std::string> listing(const std::string& pattern)
{
    std::vector<std::string> names;
    platform::FindData data;
    platform::FindHandle h = platform::findFirstFile(pattern, &data);
    if (h == platform::InvalidFindHandle) {
        return names;
    }
    do {
        names.push_back(data.fileName + (data.directory ? "/" : ""));
    } while (platform::findNextFile(h, &data));
    EXPECT_TRUE(platform::findClose(h));
    return names;
}

class WindowsFolders : public testing::Test {
protected:
    scratch::TempDir host;
    scratch::ScopedEnv hostVariable{"TARVO_HOST", host.dir()};
};

TEST(WindowsFolderPatterns, MatchAsWindowsListsThem)
{
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"mdmx.inf", "*.*", true},          {"README", "*.*", true},
        {".", "*.*", true},                 {"mdmx.inf", "*mdmx.inf", true},
        {"Vendormdmx.inf", "*mdmx.inf", true}, {"VENDORMDMX.INF", "*mdmx.inf", true},
        {"mdmx.inf.bak", "*mdmx.inf", false}, {"mdm.inf", "*mdmx.inf", false},
        {"oem12.inf", "oem*.inf", true},    {"OEM7.INF", "oem*.inf", true},
        {"oem12.PNF", "oem*.inf", false},   {"myoem1.inf", "oem*.inf", false},
        {"oem.inf", "oem*.inf", true},      {"a.inf", "?.inf", true},
        {"ab.inf", "?.inf", false},         {"anything", "*", true},
        {"", "*", true},                    {"x", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::matchesPattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
    }
}

TEST_F(WindowsFolders, ListingYieldsTheDotsThenSortedEntriesWithTheirKind)
{
    host.write("inf/b.inf", "x");
    host.write("inf/A.inf", "x");
    host.write("inf/old/c.inf", "x");
    host.write("inf/oem2.inf", "x");
    host.write("inf/OEM10.PNF", "x");
    const std::string inf = host.dir() + "INF";
    EXPECT_EQ(listing(inf + "\\*.*"),
              (std::vector<std::string>{"./", "../", "A.inf", "b.inf", "OEM10.PNF", "oem2.inf", "old/"}));
    EXPECT_EQ(listing(inf + "\\oem*.inf"), (std::vector<std::string>{"oem2.inf"}));
    EXPECT_EQ(listing(inf + "\\*zzz"), std::vector<std::string>{});
    EXPECT_EQ(listing(host.dir() + "missing\\*.*"), std::vector<std::string>{});
    EXPECT_FALSE(platform::findNextFile(platform::InvalidFindHandle, nullptr));
    EXPECT_FALSE(platform::findClose(12345));
}

TEST_F(WindowsFolders, DeleteTakesFilesOnly)
{
    std::string file = host.write("inf/mdmx.inf", "x");
    std::filesystem::create_directories(host.file("inf/old"));
    EXPECT_TRUE(platform::deleteFile(host.dir() + "INF\\MDMX.inf"));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(platform::deleteFile(host.dir() + "INF\\MDMX.inf"));
    EXPECT_FALSE(platform::deleteFile(host.dir() + "INF\\old"));
    EXPECT_EQ(platform::getFileAttributes(host.dir() + "INF\\OLD"), platform::FileAttributeDirectory);
    EXPECT_EQ(platform::getFileAttributes(host.dir() + "INF\\mdmx.inf"), platform::InvalidFileAttributes);
    EXPECT_TRUE(std::filesystem::is_directory(host.file("inf/old")));
}

TEST_F(WindowsFolders, CopyReplacesButMakesNoFolderAndCopiesNoFolder)
{
    std::string source = host.write("delivery/new.sys", "new driver");
    std::string target = host.write("windows/system/NEW.SYS", "old driver");
    EXPECT_TRUE(platform::copyFile(source, host.dir() + "windows\\SYSTEM\\new.sys", false));
    EXPECT_EQ(contents(target), "new driver");
    EXPECT_FALSE(platform::copyFile(source, host.dir() + "windows\\SYSTEM\\new.sys", true));
    EXPECT_FALSE(platform::copyFile(source, host.dir() + "windows\\nothere\\new.sys", false));
    EXPECT_FALSE(std::filesystem::exists(host.file("windows/nothere")));
    std::filesystem::create_directories(host.file("delivery/sub"));
    EXPECT_FALSE(platform::copyFile(host.dir() + "delivery\\sub", host.dir() + "windows\\system\\sub", false));
    EXPECT_FALSE(platform::copyFile(host.dir() + "delivery\\gone.sys", host.dir() + "windows\\system\\x", false));
    // No half-made copies left behind.
    EXPECT_EQ(listing(host.dir() + "windows\\system\\*"), (std::vector<std::string>{"./", "../", "NEW.SYS"}));
}

TEST_F(WindowsFolders, TheCurrentFolderTakesRelativeNames)
{
    char saved[platform::MaxPathChars];
    ASSERT_GT(platform::getCurrentDirectory(sizeof saved, saved), 0u);
    host.write("windows/inf/other/Vendormdmx.inf", "x");
    ASSERT_TRUE(platform::setCurrentDirectory(host.dir() + "Windows\\INF\\Other"));
    EXPECT_EQ(listing("*mdmx.inf"), (std::vector<std::string>{"Vendormdmx.inf"}));
    // The full path names the file (its spelling is the host's: see the host's own tests).
    uint32_t attributes = platform::getFileAttributes(platform::hostPath("VENDORMDMX.INF"));
    EXPECT_NE(attributes, platform::InvalidFileAttributes);
    EXPECT_EQ(attributes & platform::FileAttributeDirectory, 0u);
    std::string start;
    EXPECT_TRUE(platform::readFileStart("vendormdmx.inf", 64, start));
    EXPECT_EQ(start, "x");
    EXPECT_TRUE(platform::deleteFile("vendorMDMX.inf"));
    EXPECT_FALSE(platform::setCurrentDirectory(host.dir() + "nowhere"));
    ASSERT_TRUE(platform::setCurrentDirectory(saved));
}

TEST_F(WindowsFolders, ReadingTheStartStopsAtTheLimit)
{
    std::string path = host.write("big.inf", std::string(100, 'a') + "tail");
    std::string start;
    EXPECT_TRUE(platform::readFileStart(path, 100, start));
    EXPECT_EQ(start, std::string(100, 'a'));
    EXPECT_FALSE(platform::readFileStart(host.file("none.inf"), 100, start));
    EXPECT_FALSE(platform::readFileStart(host.dir(), 100, start));
}

}  // namespace
