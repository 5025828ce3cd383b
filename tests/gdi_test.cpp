// The drawing layer underneath CDib: the register of live handles, memory contexts, palettes,
// text in the dialog font, icons and DrawDib with foreign pixel rows.

#include "platform/gdi.h"
#include "platform/gdi_objects.h"
#include "tests/bmp_builder.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cstring>

namespace {

BmpBuilder Checker(int width, int height)
{
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bits = 8;
    b.colors = DistinctColors(256);
    b.pixel = [](int x, int y) { return std::uint32_t((x + y) % 2 ? 200 : 7); };
    return b;
}

HGDIOBJ Obj(HBITMAP bitmap) { return reinterpret_cast<HGDIOBJ>(bitmap); }
HGDIOBJ Obj(HPALETTE palette) { return reinterpret_cast<HGDIOBJ>(palette); }

int CountPixels(const QImage& image, const std::function<bool(QRgb)>& match, QRect area = {})
{
    if (area.isNull())
        area = image.rect();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += match(image.pixel(x, y)) ? 1 : 0;
    return count;
}

} // namespace

TEST(GdiRegister, RefusesHandlesItDoesNotHold)
{
    const int live = LiveGdiObjects();
    const int liveBitmaps = LiveGdiObjects(GdiKind::Bitmap); // images other tests left loaded
    HBITMAP bitmap = CreateBitmapFromBmp(Checker(3, 2).Build());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(LiveGdiObjects(GdiKind::Bitmap), liveBitmaps + 1);

    DIBSECTION section{};
    EXPECT_EQ(GetObjectA(Obj(bitmap), sizeof section, &section), int(sizeof section));
    EXPECT_EQ(section.dsBm.bmWidth, 3);
    EXPECT_EQ(section.dsBm.bmHeight, 2);
    EXPECT_EQ(section.dsBm.bmWidthBytes, 4);
    EXPECT_EQ(section.dsBmih.biSize, 40u);
    EXPECT_EQ(section.dsBmih.biBitCount, 8);
    EXPECT_EQ(section.dsBmih.biClrUsed, 256u);
    BITMAP info{};
    EXPECT_EQ(GetObjectA(Obj(bitmap), sizeof info, &info), int(sizeof info));
    EXPECT_EQ(info.bmBits, section.dsBm.bmBits);
    EXPECT_EQ(GetObjectA(Obj(bitmap), sizeof info - 1, &info), 0);

    EXPECT_TRUE(DeleteObject(Obj(bitmap)));
    EXPECT_FALSE(DeleteObject(Obj(bitmap))) << "freed twice";
    EXPECT_EQ(GetObjectA(Obj(bitmap), sizeof info, &info), 0);
    int foreign = 0;
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(&foreign)));
    EXPECT_EQ(GetObjectA(reinterpret_cast<HGDIOBJ>(&foreign), sizeof info, &info), 0);
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_FALSE(DeleteObject(Obj(DefaultPalette()))) << "stock objects stay";
    EXPECT_EQ(LiveGdiObjects(), live);
}

TEST(GdiRegister, MalformedOrMissingBitmapsGiveNoHandle)
{
    std::vector<std::uint8_t> file = Checker(4, 4).Build();
    file.resize(file.size() - 1);
    EXPECT_EQ(CreateBitmapFromBmp(file), nullptr);
    EXPECT_EQ(LoadImageA(AfxGetResourceHandle(), "NO_SUCH_BITMAP", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION),
              nullptr);
    EXPECT_EQ(LoadImageA(AfxGetResourceHandle(), nullptr, IMAGE_BITMAP, 0, 0, 0), nullptr);
}

TEST(GdiPalette, CopiesEntriesAndVersion)
{
    struct {
        LOGPALETTE head;
        PALETTEENTRY more[2];
    } logical{{0x300, 3, {{10, 20, 30, 0}}}, {{40, 50, 60, 0}, {70, 80, 90, 0}}};
    HPALETTE palette = CreatePalette(&logical.head);
    logical.more[1].peRed = 0; // the palette keeps its own copy
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetPaletteVersion(palette), 0x300);
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 3u);
    PALETTEENTRY out[4] = {};
    EXPECT_EQ(GetPaletteEntries(palette, 1, 4, out), 2u);
    EXPECT_EQ(out[1].peRed, 70);
    EXPECT_EQ(GetPaletteEntries(palette, 3, 1, out), 0u);
    EXPECT_TRUE(DeleteObject(Obj(palette)));
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 0u);

    HPALETTE halftone = CreateHalftonePalette(GetWindowDC(nullptr));
    EXPECT_EQ(GetPaletteEntries(halftone, 0, 0, nullptr), 256u);
    EXPECT_TRUE(DeleteObject(Obj(halftone)));
}

TEST(GdiContext, MemoryContextsHoldOneBitmapAtATime)
{
    HBITMAP bitmap = CreateBitmapFromBmp(Checker(2, 2).Build());
    HDC first = CreateCompatibleDC(GetWindowDC(nullptr));
    HDC second = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(first, Obj(bitmap));
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(SelectObject(second, Obj(bitmap)), nullptr) << "already selected elsewhere";
    EXPECT_FALSE(DeleteObject(Obj(bitmap))) << "still selected";

    RGBQUAD table[300] = {};
    EXPECT_EQ(GetDIBColorTable(first, 250, 300, table), 6u);
    EXPECT_EQ(table[0].rgbBlue, 250);
    EXPECT_EQ(GetDIBColorTable(second, 0, 256, table), 0u) << "the default bitmap has no colour table";

    EXPECT_EQ(SelectObject(first, previous), Obj(bitmap));
    EXPECT_TRUE(DeleteDC(first));
    EXPECT_TRUE(DeleteDC(second));
    EXPECT_FALSE(DeleteDC(second));
    EXPECT_FALSE(DeleteDC(GetWindowDC(nullptr))) << "the screen context is released, not deleted";
    EXPECT_EQ(ReleaseDC(nullptr, GetWindowDC(nullptr)), 1);
    EXPECT_TRUE(DeleteObject(Obj(bitmap)));
    EXPECT_EQ(LiveGdiObjects(GdiKind::MemoryDC), 0);
}

TEST(GdiContext, BlitsNeedAMemorySourceAndSrccopy)
{
    HBITMAP bitmap = CreateBitmapFromBmp(Checker(2, 2).Build());
    QImage target(4, 4, QImage::Format_RGB32);
    target.fill(Qt::black);
    QPainter painter(&target);
    CDC dc(&painter);
    HDC memory = CreateCompatibleDC(&dc);
    SelectObject(memory, Obj(bitmap));
    EXPECT_FALSE(BitBlt(&dc, 0, 0, 2, 2, &dc, 0, 0, SRCCOPY)) << "a painter context is no source";
    EXPECT_FALSE(BitBlt(&dc, 0, 0, 2, 2, memory, 0, 0, 0x00EE0086));
    EXPECT_FALSE(BitBlt(memory, 0, 0, 2, 2, memory, 0, 0, SRCCOPY)) << "memory contexts are not drawn on";
    EXPECT_TRUE(BitBlt(&dc, 1, 1, 4, 4, memory, 1, 0, SRCCOPY)) << "the part outside the bitmap is left out";
    CDC offscreen;
    EXPECT_TRUE(BitBlt(&offscreen, 0, 0, 2, 2, memory, 0, 0, SRCCOPY));
    painter.end();
    const RGBQUAD c = DistinctColors(256)[200];
    EXPECT_EQ(target.pixel(1, 1), qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue)) << "pixel (1,0) of the checker";
    EXPECT_EQ(target.pixel(3, 3), qRgb(0, 0, 0));
    DeleteDC(memory);
    DeleteObject(Obj(bitmap));
}

TEST(GdiDrawDib, DrawsForeignPackedRowsAndRefusesDeadContexts)
{
    // A 2 × 2 4-bit image given as header, colour table and rows, as a caller might build it.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[16];
    } info{};
    info.header = BITMAPINFOHEADER{40, 2, -2, 1, 4, 0, 0, 0, 0, 16, 0};
    info.colors[1] = RGBQUAD{0, 0, 255, 0};
    info.colors[2] = RGBQUAD{255, 0, 0, 0};
    const std::uint8_t rows[8] = {0x12, 0, 0, 0, 0x21, 0, 0, 0};

    QImage target(2, 2, QImage::Format_RGB32);
    QPainter painter(&target);
    CDC dc(&painter);
    HDRAWDIB drawDib = DrawDibOpen();
    EXPECT_TRUE(DrawDibDraw(drawDib, &dc, 0, 0, -1, -1, &info.header, rows, 0, 0, -1, -1, 0));
    painter.end();
    EXPECT_EQ(target.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(1, 0), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(0, 1), qRgb(0, 0, 255));

    EXPECT_TRUE(DrawDibClose(drawDib));
    EXPECT_FALSE(DrawDibClose(drawDib));
    CDC offscreen;
    EXPECT_FALSE(DrawDibDraw(drawDib, &offscreen, 0, 0, -1, -1, &info.header, rows, 0, 0, -1, -1, 0));
    info.header.biClrUsed = 17;
    HDRAWDIB fresh = DrawDibOpen();
    EXPECT_FALSE(DrawDibDraw(fresh, &offscreen, 0, 0, -1, -1, &info.header, rows, 0, 0, -1, -1, 0));
    DrawDibClose(fresh);
}

class GdiText : public testing::Test {
protected:
    GdiText() : image(120, 20, QImage::Format_RGB32)
    {
        image.fill(qRgb(60, 60, 60));
        painter.begin(&image);
    }
    QImage image;
    QPainter painter;
    CDC dc{&painter};
};

TEST_F(GdiText, TransparentGreenTextFromTheTopLeftCorner)
{
    std::vector<std::string> trace;
    SetGdiTrace(&trace);
    SetBkMode(&dc, TRANSPARENT);
    SetTextColor(&dc, RGB(0, 255, 0));
    const char* text = "PROGRAM 1:  Acoustic grand piano";
    EXPECT_TRUE(TextOutA(&dc, 0, 0, text, 10));
    SetGdiTrace(nullptr);
    painter.end();
    EXPECT_EQ(trace, std::vector<std::string>{"TextOut 0,0 \"PROGRAM 1:\" colour 0x00FF00 mode 1"});

    const QFontMetrics metrics(DialogFont());
    EXPECT_GE(metrics.height(), 12);
    EXPECT_LE(metrics.height(), 14);
    const int width = metrics.horizontalAdvance("PROGRAM 1:");
    const auto green = [](QRgb p) { return qGreen(p) > 200 && qRed(p) < 40 && qBlue(p) < 40; };
    const auto grey = [](QRgb p) { return p == qRgb(60, 60, 60); };
    EXPECT_GT(CountPixels(image, green, QRect(0, 0, width, metrics.height())), 30);
    EXPECT_EQ(CountPixels(image, grey, QRect(width + 1, 0, 120 - width - 1, 20)), (120 - width - 1) * 20)
        << "only the ten characters given are written";
    EXPECT_EQ(CountPixels(image, grey, QRect(0, metrics.height(), 120, 20 - metrics.height())),
              120 * (20 - metrics.height()))
        << "nothing below the text line";
    EXPECT_EQ(image.pixel(0, 0), qRgb(60, 60, 60)) << "no background box";
}

TEST_F(GdiText, OpaqueTextFillsItsBoxWhiteAndTheClipCutsIt)
{
    painter.setClipRect(QRect(0, 0, 30, 20));
    EXPECT_EQ(SetBkMode(&dc, OPAQUE), OPAQUE);
    EXPECT_EQ(SetTextColor(&dc, RGB(0, 0, 0)), RGB(0, 0, 0));
    EXPECT_TRUE(TextOutA(&dc, 0, 0, "WWWWWWWWWWWWWWWW", 16));
    painter.end();
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
    const auto grey = [](QRgb p) { return p == qRgb(60, 60, 60); };
    EXPECT_EQ(CountPixels(image, grey, QRect(30, 0, 90, 20)), 90 * 20) << "cut at the clip's edge";
    EXPECT_FALSE(TextOutA(&dc, 0, 0, nullptr, 3));
}

TEST(GdiIcon, LoadsProgramIconsOnceAndDrawsThem)
{
    HICON icon = LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCE(155));
    EXPECT_EQ(LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCE(9999)), nullptr);
    if (!icon)
        GTEST_SKIP() << "no icon 155 built in";
    EXPECT_EQ(LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCE(155)), icon);
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(icon))) << "icons are shared";
    ASSERT_NE(IconImage(icon, 32), nullptr);

    QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    QPainter painter(&target);
    CDC dc(&painter);
    EXPECT_TRUE(DrawIcon(&dc, 4, 4, icon));
    painter.end();
    EXPECT_GT(CountPixels(
                  target, [](QRgb p) { return qAlpha(p) > 0; }, QRect(4, 4, 32, 32)),
              100);
    EXPECT_EQ(CountPixels(
                  target, [](QRgb p) { return qAlpha(p) > 0; }, QRect(0, 0, 40, 4)),
              0);
}
