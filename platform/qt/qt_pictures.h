// The window layer's pictures (platform/ui/image.h) as Qt images: converted once per id and kept
// for the life of the process.
// Results: a null QPixmap for an id that is not a picture.
// Thread rule: UI thread.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace platform::qt {

QImage pictureImage(int imageId);
QPixmap picturePixmap(int imageId);
QIcon applicationIcon();

}  // namespace platform::qt
