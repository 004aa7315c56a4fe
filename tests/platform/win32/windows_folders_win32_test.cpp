// The Windows folders as Windows gives them: the system folder lies in the Windows folder, and a
// buffer too small is told the size it needs.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows_folders.h"

namespace {

TEST(WindowsFoldersWin32, TheSystemFolderIsInTheWindowsFolder)
{
    char windows[platform::MaxPathChars];
    char system[platform::MaxPathChars];
    uint32_t w = platform::getWindowsDirectory(windows, sizeof windows);
    uint32_t s = platform::getSystemDirectory(system, sizeof system);
    ASSERT_GT(w, 0u);
    ASSERT_LT(w, sizeof windows);
    ASSERT_GT(s, w);
    ASSERT_LT(s, sizeof system);
    EXPECT_EQ(std::string(system, w), std::string(windows, w));
    EXPECT_EQ(system[w], '\\');
    EXPECT_EQ(platform::getFileAttributes(system) & platform::FileAttributeDirectory,
              platform::FileAttributeDirectory);

    char tiny[2];
    EXPECT_EQ(platform::getWindowsDirectory(tiny, sizeof tiny), w + 1);
}

}  // namespace
