// The drawings and their decoder: every id decodes at its size, each state icon has the colour
// its meaning needs at its centre and is transparent in its corners, and malformed XPM text is
// refused instead of read past its end.
#include <gtest/gtest.h>

#include <cstdint>

#include "resources/icons.h"
#include "resources/icons/pictures.h"

namespace {

using resources::PixelImage;

struct Rgb {
    int r, g, b;
};

Rgb rgbAt(const PixelImage& image, int x, int y)
{
    uint32_t p = image.at(x, y);
    return Rgb{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
               static_cast<int>(p & 0xFF)};
}

TEST(Pictures, StateIconsLookTheirPart)
{
    struct Row {
        int32_t id;
        const char* name;
        bool (*looks)(Rgb);
    };
    const Row rows[] = {
        {IconLampIdle, "dark blue", [](Rgb c) { return c.b > 100 && c.r < 80 && c.g < 80; }},
        {IconLampDone, "green", [](Rgb c) { return c.g > 120 && c.r < 80 && c.b < 80; }},
        {IconLampBusyA, "red", [](Rgb c) { return c.r > 150 && c.g < 80 && c.b < 80; }},
        {IconLampBusyB, "cyan", [](Rgb c) { return c.g > 120 && c.b > 120 && c.r < 80; }},
        {IconStepDone, "yellow", [](Rgb c) { return c.r > 200 && c.g > 180 && c.b < 80; }},
        {IconStepPending, "grey", [](Rgb c) { return c.r == c.g && c.g == c.b && c.r > 100 && c.r < 200; }},
    };
    for (const Row& row : rows) {
        PixelImage image = resources::picturePixels(row.id);
        ASSERT_EQ(image.width, 32) << row.name;
        ASSERT_EQ(image.height, 32) << row.name;
        // The centre, below the lamps' glint.
        EXPECT_TRUE(row.looks(rgbAt(image, 16, 18))) << row.name;
        EXPECT_EQ(image.at(0, 0), 0u) << row.name << " must be transparent in its corner";
        EXPECT_EQ(image.at(31, 31), 0u) << row.name;
    }
    PixelImage application = resources::picturePixels(IconApplication);
    EXPECT_EQ(application.width, 32);
    EXPECT_EQ(application.height, 32);
    // 46 x 100 dialog units of the page font.
    PixelImage side = resources::picturePixels(BitmapWizardPicture);
    EXPECT_EQ(side.width, 69);
    EXPECT_EQ(side.height, 150);
    EXPECT_EQ(resources::picturePixels(NoImage).width, 0);
}

TEST(Pictures, MalformedXpmIsRefused)
{
    const char* const good[] = {"2 1 2 1", ". c None", "# c #FF0000", ".#"};
    const char* const badHeader[] = {"2 x 2 1"};
    const char* const hugeHeader[] = {"100000 100000 1 1", ". c None"};
    const char* const unknownKey[] = {"2 1 1 1", ". c None", ".x"};
    const char* const shortRow[] = {"2 1 1 1", ". c None", "."};
    const char* const badColour[] = {"1 1 1 1", ". c #12", "."};
    const char* const twoChars[] = {"1 1 1 2", "ab c #0000FF", "ab"};

    PixelImage image;
    ASSERT_TRUE(resources::decodeXpm(good, image));
    EXPECT_EQ(image.at(0, 0), 0u);
    EXPECT_EQ(image.at(1, 0), 0xFFFF0000u);
    ASSERT_TRUE(resources::decodeXpm(twoChars, image));
    EXPECT_EQ(image.at(0, 0), 0xFF0000FFu);
    for (const char* const* bad : {badHeader, hugeHeader, unknownKey, shortRow, badColour}) {
        EXPECT_FALSE(resources::decodeXpm(bad, image)) << bad[0];
        EXPECT_EQ(image.width, 0);
    }
    EXPECT_FALSE(resources::decodeXpm(nullptr, image));
}

}  // namespace
