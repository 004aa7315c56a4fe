#include "platform/ui/image.h"

#include <utility>

namespace platform::ui {

namespace {

ImageSource& source()
{
    static ImageSource s;
    return s;
}

}  // namespace

void setImageSource(ImageSource s)
{
    source() = std::move(s);
}

PixelImage imagePixels(int32_t imageId)
{
    return source().pixels ? source().pixels(imageId) : PixelImage{};
}

int32_t applicationIconId()
{
    return source().applicationIcon;
}

}  // namespace platform::ui
