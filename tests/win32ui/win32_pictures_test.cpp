// The program's pictures as GDI objects: a picture control's bitmap over the dialog's face where
// the picture is transparent, an icon's mask from the alpha channel, and the application icon in
// every title bar. Under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "platform/ui/image.h"
#include "platform/win32/window/win32_backend.h"
#include "platform/win32/window/win32_pictures.h"
#include "support/cross_thread_posts.h"
#include "win32_traits.h"

namespace {

using namespace platform::ui;
using platform::win32ui::makeBitmap;
using platform::win32ui::makeIcon;

constexpr int32_t TestPicture = 7;
constexpr int32_t AppIcon = 8;
constexpr uint32_t Red = 0xFFFF0000;
constexpr uint32_t Clear = 0x00000000;
constexpr uint32_t HalfBlue = 0x800000FF;
constexpr uint32_t RgbMask = 0x00FFFFFF;

class Win32Pictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        ImageSource source;
        source.pixels = [](int32_t id) {
            PixelImage image;
            if (id == TestPicture || id == AppIcon) {
                image.width = 3;
                image.height = 1;
                image.argb = {Red, Clear, HalfBlue};
            }
            return image;
        };
        source.applicationIcon = AppIcon;
        setImageSource(source);
    }
    void TearDown() override { setImageSource(ImageSource{}); }
};

// Pixels of a bitmap, 0x00RRGGBB, rows from the top.
std::vector<uint32_t> pixelsOf(HBITMAP bitmap, int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(width * height));
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    return pixels;
}

TEST_F(Win32Pictures, BitmapsShowTheFaceWhereThePictureIsTransparent)
{
    HBITMAP bitmap = makeBitmap(TestPicture);
    ASSERT_NE(bitmap, nullptr);
    COLORREF face = GetSysColor(COLOR_3DFACE);
    const uint32_t faceRgb = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
    const uint32_t halfBlue = (((GetRValue(face) * 0x7F) / 0xFF) << 16) | (((GetGValue(face) * 0x7F) / 0xFF) << 8) |
                              ((0xFF * 0x80 + GetBValue(face) * 0x7F) / 0xFF);
    std::vector<uint32_t> pixels = pixelsOf(bitmap, 3, 1);
    EXPECT_EQ(pixels[0] & RgbMask, Red & RgbMask);
    EXPECT_EQ(pixels[1] & RgbMask, faceRgb);
    EXPECT_EQ(pixels[2] & RgbMask, halfBlue);
    DeleteObject(bitmap);
    EXPECT_EQ(makeBitmap(TestPicture + 100), nullptr);
}

TEST_F(Win32Pictures, IconsAreMaskedWhereThePictureIsTransparent)
{
    HICON icon = makeIcon(TestPicture);
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    EXPECT_TRUE(info.fIcon);
    std::vector<uint32_t> mask = pixelsOf(info.hbmMask, 3, 1);
    EXPECT_EQ(mask[0] & RgbMask, 0u);        // opaque: drawn
    EXPECT_EQ(mask[1] & RgbMask, RgbMask);   // transparent: the background stays
    EXPECT_EQ(mask[2] & RgbMask, 0u);
    std::vector<uint32_t> color = pixelsOf(info.hbmColor, 3, 1);
    EXPECT_EQ(color[0] & RgbMask, Red & RgbMask);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    DestroyIcon(icon);
    EXPECT_EQ(makeIcon(TestPicture + 100), nullptr);
}

TEST_F(Win32Pictures, TitleBarsShowTheApplicationIcon)
{
    auto made = win32test::Win32Traits::make();
    auto* ui = static_cast<platform::win32ui::Win32Backend*>(made.get());
    installBackend(std::move(made));
    uitest::ThreadNotingEvents events;
    DialogTemplate dialog;
    dialog.controls = {{20, ControlKind::Icon, StyleNone, 4, 4, 20, 20, "", TestPicture}};
    WindowId w = ui->createDialog(dialog, NoWindow, WindowRole::ModalDialog, &events);
    WindowId sheet = ui->createSheet(&events);
    for (WindowId id : {w, sheet}) {
        HWND hwnd = ui->windowHandle(id);
        EXPECT_NE(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0), 0) << id;
        EXPECT_NE(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0), 0) << id;
    }
    // The template's picture is in its control from the start.
    EXPECT_NE(SendMessageA(ui->controlHandle(w, 20), STM_GETICON, 0, 0), 0);
    ui->destroyWindow(w);
    ui->destroyWindow(sheet);
    installBackend(nullptr);
}

}  // namespace
