#include "resources/icons/ico_file.h"

namespace resources {

namespace {

constexpr uint16_t IconType = 1;           // ICONDIR.idType: an icon, not a cursor
constexpr uint32_t DirectorySize = 6;      // ICONDIR
constexpr uint32_t EntrySize = 16;         // ICONDIRENTRY
constexpr uint32_t InfoHeaderSize = 40;    // BITMAPINFOHEADER
constexpr uint16_t BitsPerPixel = 32;
constexpr uint32_t AlphaShift = 24;

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

std::vector<uint8_t> icoFile(const platform::ui::PixelImage& image)
{
    const int w = image.width;
    const int h = image.height;
    if (w <= 0 || h <= 0 || w > MaxIconSide || h > MaxIconSide ||
        image.argb.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) {
        return {};
    }
    // Mask rows are padded to 32 bits.
    const uint32_t maskStride = ((static_cast<uint32_t>(w) + 31) / 32) * 4;
    const uint32_t colourBytes = static_cast<uint32_t>(w) * static_cast<uint32_t>(h) * 4;
    const uint32_t maskBytes = maskStride * static_cast<uint32_t>(h);
    const uint32_t imageBytes = InfoHeaderSize + colourBytes + maskBytes;

    std::vector<uint8_t> out;
    out.reserve(DirectorySize + EntrySize + imageBytes);
    // ICONDIR
    put16(out, 0);
    put16(out, IconType);
    put16(out, 1);
    // ICONDIRENTRY: a side of 256 is written as 0.
    out.push_back(static_cast<uint8_t>(w == MaxIconSide ? 0 : w));
    out.push_back(static_cast<uint8_t>(h == MaxIconSide ? 0 : h));
    out.push_back(0);  // no palette
    out.push_back(0);
    put16(out, 1);  // planes
    put16(out, BitsPerPixel);
    put32(out, imageBytes);
    put32(out, DirectorySize + EntrySize);
    // BITMAPINFOHEADER: the height counts the colour rows and the mask rows.
    put32(out, InfoHeaderSize);
    put32(out, static_cast<uint32_t>(w));
    put32(out, static_cast<uint32_t>(h) * 2);
    put16(out, 1);
    put16(out, BitsPerPixel);
    put32(out, 0);  // BI_RGB
    put32(out, colourBytes + maskBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    // Colour rows from the bottom, BGRA: 0xAARRGGBB written little-endian.
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            put32(out, image.at(x, y));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskStride, 0);
        for (int x = 0; x < w; ++x) {
            if ((image.at(x, y) >> AlphaShift) == 0) {
                row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace resources
