// A picture as a Windows icon file (.ico): one image, 32 bits per pixel with its alpha channel,
// and the 1-bit mask that older systems draw with (set where the picture is transparent). The
// Windows build's resources (resources/win32/) carry the program's icon in this form, so that
// Explorer and the taskbar show the same icon the windows do; tools/win32_icon writes that file.
// Results: the file's bytes; empty for an empty picture or one larger than an icon can be (256).
// Thread rule: pure function, safe from any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ui/image.h"

namespace resources {

constexpr int MaxIconSide = 256;

std::vector<uint8_t> icoFile(const platform::ui::PixelImage& image);

}  // namespace resources
