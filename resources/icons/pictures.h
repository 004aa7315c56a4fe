// The pictures by resource id (resources/icons.h), and the small XPM decoder that turns their text
// into pixels. The drawings themselves live in picture_data.cpp. installPictures makes them the
// window layer's image source (platform/ui/image.h), where a backend asks for pixels.
// Results: decodeXpm returns false for malformed text and leaves the image empty; pictureXpm
// gives nullptr for an id that is not a picture.
// Thread rule: safe from any thread (pure functions over constant data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/ui/image.h"

namespace resources {

using PixelImage = platform::ui::PixelImage;

// Decodes XPM text with one or two characters per pixel and colours "#RRGGBB" or "None".
bool decodeXpm(const char* const* xpm, PixelImage& out);

// The XPM text of a picture id (IconLampIdle ... BitmapWizardPicture).
const char* const* pictureXpm(int id);

// The decoded picture of an id; empty (0 x 0) for an unknown id.
PixelImage picturePixels(int id);

// Installs picturePixels, with IconApplication as the program's icon, as the window layer's image
// source. The program calls it once at start-up, before any window exists.
void installPictures();

}  // namespace resources
