// GetPrivateProfileStringA on a UTF-16 file: the text comes back in the ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/profile_string.h"
#include "support/scratch.h"

namespace {

TEST(ProfileStringWin32, ReadsUtf16LittleEndianInTheAnsiCodePage)
{
    scratch::TempDir dir;
    const wchar_t value[] = L"Modem \u00e9";
    std::string bytes = "\xFF\xFE";
    for (const wchar_t* c = L"[INFO]\r\nk="; *c; ++c) {
        bytes += static_cast<char>(*c);
        bytes += '\0';
    }
    for (const wchar_t* c = value; *c; ++c) {
        bytes += static_cast<char>(*c & 0xFF);
        bytes += static_cast<char>(*c >> 8);
    }
    std::string path = dir.write("t.ini", bytes);

    char ansi[64] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, value, -1, ansi, sizeof ansi, nullptr, nullptr);
    ASSERT_GT(n, 1);
    EXPECT_EQ(platform::getPrivateProfileString("INFO", "k", "d", path), std::string(ansi));
}

}  // namespace
