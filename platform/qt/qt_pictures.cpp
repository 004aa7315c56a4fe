#include "platform/qt/qt_pictures.h"

#include <map>

#include "platform/ui/image.h"

namespace platform::qt {

QImage pictureImage(int imageId)
{
    platform::ui::PixelImage pixels = platform::ui::imagePixels(imageId);
    if (pixels.width == 0) {
        return QImage();
    }
    QImage image(pixels.width, pixels.height, QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < pixels.width; ++x) {
            line[x] = pixels.at(x, y);
        }
    }
    return image;
}

QPixmap picturePixmap(int imageId)
{
    // Never destroyed: a pixmap must not outlive the QGuiApplication, and process exit comes
    // after it.
    static auto* cache = new std::map<int, QPixmap>;
    auto found = cache->find(imageId);
    if (found != cache->end()) {
        return found->second;
    }
    QPixmap pixmap = QPixmap::fromImage(pictureImage(imageId));
    cache->emplace(imageId, pixmap);
    return pixmap;
}

QIcon applicationIcon()
{
    return QIcon(picturePixmap(platform::ui::applicationIconId()));
}

}  // namespace platform::qt
