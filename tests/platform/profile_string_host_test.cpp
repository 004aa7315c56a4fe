// The INI reader as this host stands it in: text from a UTF-16 file comes back as UTF-8 (this
// host's text, where Windows gives its ANSI code page), and a file that is not text counts as
// absent. (The rules both hosts share: tests/config/ini_reader_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "platform/profile_string.h"
#include "support/scratch.h"

namespace {

TEST(HostProfileString, ReadsUtf16LittleEndianAsUtf8)
{
    scratch::TempDir dir;
    // "[INFO]\r\nk=Modem \u00e9\r\n" in UTF-16 LE with its mark.
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("[INFO]\r\nk=Modem ")) {
        bytes += c;
        bytes += '\0';
    }
    bytes += "\xE9";
    bytes += '\0';
    std::string path = dir.write("t.ini", bytes);
    EXPECT_EQ(platform::getPrivateProfileString("INFO", "k", "d", path), "Modem \xC3\xA9");
}

TEST(HostProfileString, FilesThatAreNotTextCountAsAbsent)
{
    scratch::TempDir dir;
    const std::string text = "[INFO]\r\nk=v\r\n";
    for (const std::string& path : {dir.write("binary.ini", std::string("\x7f" "ELF\0\0", 6) + text),
                                    dir.write("utf16be.ini", std::string("\xFE\xFF\0[\0I\0N\0F\0O\0]", 14))}) {
        EXPECT_FALSE(platform::profileFileReadable(path)) << path;
    }
}

}  // namespace
