// The pictures by resource id (resources/icons.h), and the small XPM decoder that turns their text
// into pixels. The drawings themselves live in picture_data.cpp; a window backend only asks here
// for pixels and converts them into its own image type.
// Results: decodeXpm returns false for malformed text and leaves the image empty; pictureXpm
// gives nullptr for an id that is not a picture.
// Thread rule: safe from any thread (pure functions over constant data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace resources {

// Pixels row by row from the top, each 0xAARRGGBB (not premultiplied); transparent is 0.
struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;

    uint32_t at(int x, int y) const { return argb[static_cast<std::size_t>(y) * width + x]; }
};

// Decodes XPM text with one or two characters per pixel and colours "#RRGGBB" or "None".
bool decodeXpm(const char* const* xpm, PixelImage& out);

// The XPM text of a picture id (IconLampIdle ... BitmapWizardPicture).
const char* const* pictureXpm(int id);

// The decoded picture of an id; empty (0 x 0) for an unknown id.
PixelImage picturePixels(int id);

}  // namespace resources
