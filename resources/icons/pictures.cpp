#include "resources/icons/pictures.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "resources/icons.h"
#include "resources/icons/picture_data.h"

namespace resources {

namespace {

constexpr uint32_t OpaqueAlpha = 0xFF000000u;
constexpr int MaxCharsPerPixel = 2;
// Larger than any picture of ours; it keeps a corrupt header from asking for gigabytes.
constexpr int MaxPictureSide = 1024;

bool parseColour(const char* colourSpec, uint32_t& argb)
{
    // A colour line reads "<key> c <value>"; only the visual ("c") value is used.
    const char* value = std::strstr(colourSpec, " c ");
    if (value == nullptr) {
        return false;
    }
    value += 3;
    while (*value == ' ') {
        ++value;
    }
    if (std::strncmp(value, "None", 4) == 0) {
        argb = 0;
        return true;
    }
    unsigned rgb = 0;
    int used = 0;
    if (value[0] != '#' || std::strlen(value) < 7 || std::sscanf(value + 1, "%6x%n", &rgb, &used) != 1 ||
        used != 6) {
        return false;
    }
    argb = OpaqueAlpha | rgb;
    return true;
}

}  // namespace

bool decodeXpm(const char* const* xpm, PixelImage& out)
{
    out = PixelImage{};
    if (xpm == nullptr || xpm[0] == nullptr) {
        return false;
    }
    int width = 0, height = 0, colours = 0, charsPerPixel = 0;
    if (std::sscanf(xpm[0], "%d %d %d %d", &width, &height, &colours, &charsPerPixel) != 4 ||
        width <= 0 || height <= 0 || width > MaxPictureSide || height > MaxPictureSide ||
        colours <= 0 || charsPerPixel <= 0 || charsPerPixel > MaxCharsPerPixel) {
        return false;
    }
    std::map<std::string, uint32_t> palette;
    for (int i = 1; i <= colours; ++i) {
        const char* line = xpm[i];
        if (line == nullptr || std::strlen(line) < static_cast<size_t>(charsPerPixel)) {
            return false;
        }
        uint32_t argb = 0;
        if (!parseColour(line + charsPerPixel, argb)) {
            return false;
        }
        palette[std::string(line, charsPerPixel)] = argb;
    }
    PixelImage image;
    image.width = width;
    image.height = height;
    image.argb.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const char* row = xpm[1 + colours + y];
        if (row == nullptr || std::strlen(row) != static_cast<size_t>(width) * charsPerPixel) {
            return false;
        }
        for (int x = 0; x < width; ++x) {
            auto found = palette.find(std::string(row + x * charsPerPixel, charsPerPixel));
            if (found == palette.end()) {
                return false;
            }
            image.argb.push_back(found->second);
        }
    }
    out = std::move(image);
    return true;
}

const char* const* pictureXpm(int id)
{
    switch (id) {
    case IconLampIdle: return LampIdleXpm;
    case IconLampDone: return LampDoneXpm;
    case IconLampBusyA: return LampBusyAXpm;
    case IconLampBusyB: return LampBusyBXpm;
    case IconStepDone: return StepDoneXpm;
    case IconStepPending: return StepPendingXpm;
    case IconApplication: return ApplicationXpm;
    case BitmapWizardPicture: return WizardPictureXpm;
    default: return nullptr;
    }
}

PixelImage picturePixels(int id)
{
    PixelImage image;
    decodeXpm(pictureXpm(id), image);
    return image;
}

void installPictures()
{
    platform::ui::setImageSource({[](int32_t id) { return picturePixels(id); }, IconApplication});
}

}  // namespace resources
