// Pictures as pixel data, the window layer's small image interface. Templates and setImage name a
// picture only by its id; a backend that draws asks the image source in force for the pixels of
// an id and turns them into its own image type. The program's pictures live in resources/, which
// installs itself as the source at start-up (resources::installPictures), so no backend needs to
// know where the pictures come from.
// Results: an empty image (0 x 0) for an unknown id or while no source is installed.
// Thread rule: setImageSource before any window exists; imagePixels on the UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform::ui {

// Pixels row by row from the top, each 0xAARRGGBB (not premultiplied); transparent is 0.
struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;

    uint32_t at(int x, int y) const { return argb[static_cast<std::size_t>(y) * width + x]; }
};

struct ImageSource {
    std::function<PixelImage(int32_t imageId)> pixels;
    int32_t applicationIcon = 0;  // the id of the program's icon (windows' title bars)
};

void setImageSource(ImageSource source);
PixelImage imagePixels(int32_t imageId);
int32_t applicationIconId();  // 0 while no source is installed

}  // namespace platform::ui
