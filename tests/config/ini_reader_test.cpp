#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch.h"

namespace {

// The Windows build runs these against GetPrivateProfileStringA itself. Under Wine a few rows
// read differently, and there the Windows behaviour is what the rows hold to:
// - A UTF-8 byte-order mark: Windows knows only the UTF-16 one and reads the UTF-8 mark as text,
//   so a section header on the first line is lost; Wine decodes the file as UTF-8.
// - An empty key name: Windows gives the default (Wine's own conformance tests, which run on
//   Windows, hold it so); Wine matches a line with nothing before its '='.
// - A line without '=': Windows lists no key for it (the same conformance tests), so a later
//   "name=value" of that name counts; Wine takes the line for the key, without a value, and
//   gives the default.
// - A '[' line without ']', a tab around the caller's key, and a caller's key starting with ';':
//   Wine ignores such a header line, drops tabs as it drops spaces, and keeps comment lines as
//   keys. No Windows documentation settles these; the rows keep the rules the Linux reader has
//   always had, and only a run on Windows can confirm them.
// underWine is what Wine gives where it differs (nullptr: the same as Windows).
struct IniCase {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    const char* defaultValue;
    std::string expected;
    const char* underWine = nullptr;
};

const std::string Info = "[INFO]\r\n";
// Later than any file system's time step (FAT's is two seconds).
constexpr std::chrono::seconds EditLater{3};

const IniCase IniCases[] = {
    {"plain", Info + "k=v\r\n", "INFO", "k", "d", "v"},
    {"names without regard to case", "[info]\r\nMODEL_name=v\r\n", "Info", "model_NAME", "d", "v"},
    {"blanks around name and value", Info + " \t k \t=\v\t x y \t\r\n", "INFO", "k", "d", "x y"},
    {"blanks inside the brackets", "  [ \tINFO\t ]\r\nk=v\r\n", "INFO", "k", "d", "v"},
    {"text after ] ignored", "[INFO] old\r\nk=v\r\n", "INFO", "k", "d", "v"},
    {"key on the header line ignored", "[INFO]k=v\r\n", "INFO", "k", "d", "d"},
    {"missing ] ends at the line end", "[INFO  \r\nk=v\r\n", "INFO", "k", "d", "v", "d"},
    {"missing [ is no section", "INFO]\r\nk=v\r\n", "INFO", "k", "d", "d"},
    {"double quotes dropped, inner blanks kept", Info + "k= \" a b \" \r\n", "INFO", "k", "d", " a b "},
    {"single quotes dropped", Info + "k='v'\r\n", "INFO", "k", "d", "v"},
    {"only the outer pair", Info + "k=\"\"v\"\"\r\n", "INFO", "k", "d", "\"v\""},
    {"unmatched quotes kept", Info + "k=\"v'\r\n", "INFO", "k", "d", "\"v'"},
    {"a lone quote kept", Info + "k=\"\r\n", "INFO", "k", "d", "\""},
    {"empty quotes give empty", Info + "k=\"\"\r\n", "INFO", "k", "d", ""},
    {"present but empty", Info + "k=\r\n", "INFO", "k", "d", ""},
    {"present but blank", Info + "k=  \t\r\n", "INFO", "k", "d", ""},
    {"absent key", Info + "other=v\r\n", "INFO", "k", "d", "d"},
    {"absent section", "[MORE]\r\nk=v\r\n", "INFO", "k", "d", "d"},
    {"line without = is no key", Info + "k\r\nk=v\r\n", "INFO", "k", "d", "v", "d"},
    {"comment line", Info + ";k=v\r\nk=w\r\n", "INFO", "k", "d", "w"},
    {"semicolon inside a value", Info + "k=;a;b\r\n", "INFO", "k", "d", ";a;b"},
    {"= inside a value", Info + "k=a=b\r\n", "INFO", "k", "d", "a=b"},
    {"key before any section", "k=v\r\n[INFO]\r\n", "INFO", "k", "d", "d"},
    {"first of duplicate keys", Info + "k=1\r\nK=2\r\n", "INFO", "k", "d", "1"},
    {"later section of the same name unread", Info + "a=1\r\n[X]\r\n[info]\r\nk=2\r\n", "INFO", "k", "d", "d"},
    {"other section's key unseen", "[X]\r\nk=v\r\n[INFO]\r\n", "INFO", "k", "d", "d"},
    {"LF line ends", "[INFO]\nk=v\n", "INFO", "k", "d", "v"},
    {"CR line ends", "[INFO]\rj=u\rk=v\r", "INFO", "k", "d", "v"},
    {"no final line end", "[INFO]\r\nk=v", "INFO", "k", "d", "v"},
    {"UTF-8 mark spoils a header on its line", "\xEF\xBB\xBF[INFO]\r\nk=v\r\n", "INFO", "k", "d", "d", "v"},
    {"UTF-8 mark before a blank first line", "\xEF\xBB\xBF\r\n[INFO]\r\nk=v\r\n", "INFO", "k", "d", "v"},
    {"caller's names lose spaces", Info + "k=v\r\n", " INFO ", " k ", "d", "v"},
    {"caller's tab is part of the name", Info + "k=v\r\n", "INFO", "\tk", "d", "d", "v"},
    {"caller's empty key never found", Info + "=v\r\n", "INFO", "", "d", "d", "v"},
    {"caller's comment name never found", Info + ";k=v\r\n", "INFO", ";k", "d", "d", "v"},
    {"default loses trailing spaces only", "", "INFO", "k", "  d \t ", "  d \t"},
};

class IniRules : public testing::TestWithParam<IniCase> {};

TEST_P(IniRules, ReadsAsWindowsDoes)
{
    const IniCase& c = GetParam();
    scratch::TempDir dir;
    std::string path = dir.write("t.ini", c.text);
    const bool wineDiffers = c.underWine != nullptr && scratch::runsUnderWine();
    EXPECT_EQ(getPrivateProfileString(c.section, c.key, c.defaultValue, path), wineDiffers ? c.underWine : c.expected)
        << c.what << (wineDiffers ? " (where Wine differs from Windows)" : "");
}

INSTANTIATE_TEST_SUITE_P(Profile, IniRules, testing::ValuesIn(IniCases));

TEST(IniReader, CutsValuesAndDefaultsToTheBuffer)
{
    scratch::TempDir dir;
    const std::string longText(200, 'x');
    std::string path = dir.write("t.ini", Info + "long=" + longText + "\r\nquoted=\"" + longText + "\"\r\nk=val1\r\n");
    EXPECT_EQ(getPrivateProfileString("INFO", "long", "", path), std::string(127, 'x'));
    EXPECT_EQ(getPrivateProfileString("INFO", "quoted", "", path), std::string(127, 'x'));
    EXPECT_EQ(getPrivateProfileString("INFO", "none", longText, path), std::string(127, 'x'));
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "", path, 5), "val1");
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "", path, 4), "val");
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path, 1), "");
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path, 0), "");
}

TEST(IniReader, FilesThatCannotBeReadGiveTheDefault)
{
    scratch::TempDir dir;
    const std::string text = Info + "k=v\r\n";
    std::vector<std::string> absent = {dir.file("missing.ini"), "", dir.dir()};
    // A FIFO would block a naive reader (where the host has them in its folders).
    if (scratch::makeFifo(dir.file("fifo.ini"))) {
        absent.push_back(dir.file("fifo.ini"));
    }
    for (const std::string& path : absent) {
        EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), "d") << path;
        EXPECT_FALSE(profileFileReadable(path)) << path;
        EXPECT_FALSE(profileFileHasUtf8Mark(path)) << path;  // never waits on the FIFO either
    }
    // Files that are not INI text: no section header can be seen in them.
    for (const std::string& path : {dir.write("binary.ini", std::string("\x7f" "ELF\0\0", 6) + text),
                                    dir.write("utf16be.ini", std::string("\xFE\xFF\0[\0I\0N\0F\0O\0]", 14))}) {
        EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), "d") << path;
    }
    EXPECT_TRUE(profileFileReadable(dir.write("good.ini", text)));
    EXPECT_TRUE(profileFileReadable(dir.write("empty.ini", "")));
}

TEST(IniReader, ReadsUtf16LittleEndian)
{
    scratch::TempDir dir;
    // "[INFO]\r\nk=Modem 56K\r\n" in UTF-16 LE with its mark. (What a character beyond ASCII
    // becomes is the host's: tests/platform/.)
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("[INFO]\r\nk=Modem 56K\r\n")) {
        bytes += c;
        bytes += '\0';
    }
    std::string path = dir.write("t.ini", bytes);
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), "Modem 56K");
}

TEST(IniReader, HugeLinesCostNoMoreThanTheirHead)
{
    scratch::TempDir dir;
    const std::string huge(3 * 1024 * 1024, 'y');
    std::string path = dir.write("t.ini", Info + "before=" + huge + "\r\nk=\"" + huge + "\"\r\nafter=v\r\n");
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "", path), std::string(127, 'y'));
    EXPECT_EQ(getPrivateProfileString("INFO", "after", "", path), "v");
}

// Blanks and quotes far from the text they belong to: the rules hold for a line of any length.
TEST(IniReader, RulesHoldOnLinesOfAnyLength)
{
    const std::string blanks(70 * 1024, ' ');
    const std::string tabs(70 * 1024, '\t');
    struct Case {
        const char* what;
        std::string line;
        std::string expected;
    };
    const Case cases[] = {
        {"trailing blanks dropped", "k=abc" + blanks, "abc"},
        {"blanks before = dropped", "k" + blanks + "=v", "v"},
        {"blanks after = dropped", "k=" + tabs + "v" + blanks, "v"},
        {"closing quote dropped", "k=\"abc\"" + blanks, "abc"},
        {"quoted blanks kept, then cut", "k=\"" + blanks + "\"", std::string(127, ' ')},
        {"a long name is another key", std::string(70 * 1024, 'k') + "=v", "d"},
    };
    for (const Case& c : cases) {
        scratch::TempDir dir;
        std::string path = dir.write("t.ini", Info + c.line + "\r\nafter=w\r\n");
        EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), c.expected) << c.what;
        EXPECT_EQ(getPrivateProfileString("INFO", "after", "d", path), "w") << c.what;
    }
    scratch::TempDir dir;
    std::string path = dir.write("t.ini", "[" + blanks + "INFO" + blanks + "] tail" + blanks + "\r\nk=v\r\n");
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), "v");
    path = dir.write("t.ini", "[INFO" + blanks + "\r\nk=v\r\n");
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), scratch::runsUnderWine() ? "d" : "v")
        << "a header without ']' (Wine ignores the line)";
}

TEST(IniReader, ANulPastTheStartEndsTheText)
{
    scratch::TempDir dir;
    std::string comments;
    while (comments.size() < 100 * 1024) {
        comments += "; padding padding padding\r\n";
    }
    std::string path = dir.write("t.ini", Info + "a=1\r\n" + comments + std::string(1, '\0') + "b=2\r\n");
    EXPECT_EQ(getPrivateProfileString("INFO", "a", "d", path), "1");
    EXPECT_EQ(getPrivateProfileString("INFO", "b", "d", path), "d");
}

TEST(IniReader, ReadsTheFileAfreshEachCall)
{
    scratch::TempDir dir;
    std::string path = dir.write("t.ini", Info + "k=1\r\n");
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), "1");
    dir.write("t.ini", Info + "k=2\r\n");
    // Wine keeps the files it has read and reads one again only when its modification time has
    // changed, so two writes within the file system's time step look like one there. The edit
    // gets a later time, as a user's edit a moment later would.
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + EditLater);
    EXPECT_EQ(getPrivateProfileString("INFO", "k", "d", path), "2");
}

TEST(ProfileFlag, SetExactlyWhenTheTextContainsTrue)
{
    for (const char* set : {"TRUE", "true", "tRuE", "NOTTRUE", "untrue or not", " TRUE "}) {
        EXPECT_TRUE(profileFlag(set)) << set;
    }
    for (const char* clear : {"", "FALSE", "1", "yes", "on", "TRU", "T RUE"}) {
        EXPECT_FALSE(profileFlag(clear)) << clear;
    }
}

}  // namespace
