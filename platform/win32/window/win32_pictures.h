// The program's pictures (platform/ui/image.h) as GDI objects: a bitmap for a picture control,
// drawn over the dialog's face colour where the picture is transparent, and an icon with its
// alpha channel and mask for icon controls and title bars. The caller owns what is returned
// (DeleteObject / DestroyIcon); null for an unknown or empty picture.
// Thread rule: UI thread (the image source's rule).
#pragma once

#include <windows.h>

#include <cstdint>

namespace platform::win32ui {

HBITMAP makeBitmap(int32_t imageId);
HICON makeIcon(int32_t imageId);

}  // namespace platform::win32ui
