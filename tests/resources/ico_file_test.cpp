// The icon file of the Windows build: its layout as Windows reads it, and the committed
// resources/win32/tarvo32.ico still being the icon the windows draw.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/icons.h"
#include "resources/icons/ico_file.h"
#include "resources/icons/pictures.h"

namespace {

using platform::ui::PixelImage;

uint32_t read32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t read16(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(IcoFile, LaysOutOneImageWithColourRowsFromTheBottomAndTheMask)
{
    PixelImage image;
    image.width = 2;
    image.height = 2;
    image.argb = {0xFF112233, 0x00000000,   // top row: opaque, transparent
                  0x80445566, 0xFF778899};  // bottom row
    std::vector<uint8_t> ico = resources::icoFile(image);
    const size_t header = 6 + 16;
    const size_t colours = header + 40;
    ASSERT_EQ(ico.size(), colours + 2 * 2 * 4 + 2 * 4);
    struct Field {
        size_t at;
        uint32_t value;
        int bytes;
    };
    for (Field f : {Field{0, 0, 2}, Field{2, 1, 2}, Field{4, 1, 2}, Field{6, 2, 1}, Field{7, 2, 1},
                    Field{12, 32, 2}, Field{14, 40 + 16 + 8, 4}, Field{18, header, 4}, Field{header + 4, 2, 4},
                    Field{header + 8, 4, 4}, Field{header + 14, 32, 2}}) {
        uint32_t got = f.bytes == 1 ? ico[f.at] : f.bytes == 2 ? read16(ico, f.at) : read32(ico, f.at);
        EXPECT_EQ(got, f.value) << "at " << f.at;
    }
    // The bottom row comes first.
    EXPECT_EQ(read32(ico, colours), 0x80445566u);
    EXPECT_EQ(read32(ico, colours + 12), 0x00000000u);
    // The mask: bottom row all drawn, top row's second pixel transparent.
    EXPECT_EQ(ico[colours + 16], 0x00);
    EXPECT_EQ(ico[colours + 20], 0x40);
}

TEST(IcoFile, RefusesWhatNoIconCanHold)
{
    PixelImage tooWide;
    tooWide.width = resources::MaxIconSide + 1;
    tooWide.height = 1;
    tooWide.argb.assign(static_cast<size_t>(tooWide.width), 0);
    EXPECT_TRUE(resources::icoFile(PixelImage{}).empty());
    EXPECT_TRUE(resources::icoFile(tooWide).empty());
}

TEST(IcoFile, TheWindowsResourcesCarryTheIconTheWindowsDraw)
{
    std::ifstream in(std::string(TARVO_SOURCE_DIR) + "/resources/win32/tarvo32.ico", std::ios::binary);
    ASSERT_TRUE(in) << "resources/win32/tarvo32.ico is missing";
    std::vector<uint8_t> committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(committed, resources::icoFile(resources::picturePixels(IconApplication)))
        << "the icon's drawing changed: write the file again with tarvo32_icon resources/win32/tarvo32.ico";
}

}  // namespace
