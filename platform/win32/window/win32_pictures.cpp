#include "platform/win32/window/win32_pictures.h"

#include <cstring>
#include <vector>

#include "platform/ui/image.h"

namespace platform::win32ui {

namespace {

constexpr WORD BitsPerPixel = 32;
constexpr uint32_t AlphaShift = 24;
constexpr uint32_t ChannelMask = 0xFF;
constexpr uint32_t OpaqueAlpha = 0xFF;

// A top-down 32-bit DIB section of the image's size; its pixels through `bits`.
HBITMAP makeSection(int width, int height, uint32_t** bits)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // rows from the top, as PixelImage holds them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = BitsPerPixel;
    info.bmiHeader.biCompression = BI_RGB;
    void* raw = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &raw, nullptr, 0);
    *bits = static_cast<uint32_t*>(raw);
    return bitmap;
}

uint32_t channel(uint32_t argb, int shift)
{
    return (argb >> shift) & ChannelMask;
}

// One channel of `over` drawn with alpha on the same channel of `under`.
uint32_t blend(uint32_t over, uint32_t under, uint32_t alpha)
{
    return (over * alpha + under * (OpaqueAlpha - alpha)) / OpaqueAlpha;
}

}  // namespace

HBITMAP makeBitmap(int32_t imageId)
{
    platform::ui::PixelImage image = platform::ui::imagePixels(imageId);
    if (image.width <= 0 || image.height <= 0) {
        return nullptr;
    }
    uint32_t* bits = nullptr;
    HBITMAP bitmap = makeSection(image.width, image.height, &bits);
    if (bitmap == nullptr) {
        return nullptr;
    }
    // A static control draws a bitmap as it is: transparent parts take the dialog's face.
    COLORREF face = GetSysColor(COLOR_3DFACE);
    const uint32_t faceRgb[3] = {GetRValue(face), GetGValue(face), GetBValue(face)};
    for (size_t i = 0; i < image.argb.size(); ++i) {
        uint32_t p = image.argb[i];
        uint32_t a = p >> AlphaShift;
        uint32_t r = blend(channel(p, 16), faceRgb[0], a);
        uint32_t g = blend(channel(p, 8), faceRgb[1], a);
        uint32_t b = blend(channel(p, 0), faceRgb[2], a);
        bits[i] = (r << 16) | (g << 8) | b;
    }
    return bitmap;
}

HICON makeIcon(int32_t imageId)
{
    platform::ui::PixelImage image = platform::ui::imagePixels(imageId);
    if (image.width <= 0 || image.height <= 0) {
        return nullptr;
    }
    uint32_t* bits = nullptr;
    HBITMAP color = makeSection(image.width, image.height, &bits);
    if (color == nullptr) {
        return nullptr;
    }
    // The DIB wants premultiplied-free BGRA with alpha in the top byte: that is 0xAARRGGBB as
    // a little-endian DWORD already.
    std::memcpy(bits, image.argb.data(), image.argb.size() * sizeof(uint32_t));
    // The mask, for systems that draw icons without alpha: set bits are transparent. Rows are
    // padded to WORDs, as CreateBitmap wants.
    const int stride = ((image.width + 15) / 16) * 2;
    std::vector<BYTE> mask(static_cast<size_t>(stride) * image.height, 0);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if ((image.at(x, y) >> AlphaShift) == 0) {
                mask[static_cast<size_t>(y) * stride + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
            }
        }
    }
    HBITMAP monochrome = CreateBitmap(image.width, image.height, 1, 1, mask.data());
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = monochrome;
    info.hbmColor = color;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(monochrome);
    DeleteObject(color);
    return icon;
}

}  // namespace platform::win32ui
