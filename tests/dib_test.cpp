// CDib: palettes from colour tables, the DrawDib and blit paths, reloading, releasing, and the
// pixels that actually reach a painter.

#include "tests/bmp_builder.h"
#include "widgets/dib.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

HBITMAP MakeBitmap(const BmpBuilder& b) { return CreateBitmapFromBmp(b.Build()); }

BmpBuilder Indexed(int width, int height, int bits)
{
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bits = bits;
    b.colors = DistinctColors(1 << bits);
    b.pixel = [bits](int x, int y) { return std::uint32_t(x + y * 7) % (1u << bits); };
    return b;
}

BmpBuilder TrueColour(int width, int height)
{
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bits = 24;
    b.pixel = [](int x, int y) { return std::uint32_t(0x400000 + x * 0x000811 + y * 0x030100); };
    return b;
}

QRgb ColourAt(const BmpBuilder& b, int x, int y)
{
    const std::uint32_t v = b.pixel(x, y);
    if (b.bits > 8)
        return 0xFF000000u | v;
    const RGBQUAD& c = b.colors[v];
    return qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

std::vector<PALETTEENTRY> PaletteOf(CDib& dib)
{
    std::vector<PALETTEENTRY> entries(std::size_t(dib.m_palette.GetEntryCount()));
    GetPaletteEntries(dib.m_palette, 0, UINT(entries.size()), entries.data());
    return entries;
}

class DibTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_live = LiveGdiObjects();
        SetGdiTrace(&m_trace);
    }
    void TearDown() override
    {
        SetGdiTrace(nullptr);
        EXPECT_EQ(LiveGdiObjects(), m_live) << "a test leaked or freed twice";
    }

    std::vector<std::string> m_trace;
    int m_live = 0;
};

// A painter over a grey canvas, as a window's paint would give it.
struct Canvas {
    explicit Canvas(int width = 64, int height = 32) : image(width, height, QImage::Format_RGB32)
    {
        image.fill(qRgb(1, 2, 3));
        painter.begin(&image);
    }
    QImage Finish()
    {
        painter.end();
        return image;
    }
    QImage image;
    QPainter painter;
    CDC dc{&painter};
};

} // namespace

TEST_F(DibTest, PaletteComesFromTheColourTable)
{
    for (int bits : {8, 4}) {
        const BmpBuilder b = Indexed(6, 3, bits);
        CDib dib;
        ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(b)));
        EXPECT_EQ(dib.m_info.bmWidth, 6);
        EXPECT_EQ(dib.m_info.bmHeight, 3);
        EXPECT_EQ(dib.m_info.bmBitsPixel, bits);
        EXPECT_EQ(dib.m_info.bmWidthBytes, b.Stride());
        EXPECT_NE(dib.m_info.bmBits, nullptr);
        EXPECT_EQ(GetPaletteVersion(dib.m_palette), 0x300);

        const std::vector<PALETTEENTRY> palette = PaletteOf(dib);
        ASSERT_EQ(palette.size(), std::size_t(1) << bits);
        for (std::size_t i = 0; i < palette.size(); ++i) {
            EXPECT_EQ(palette[i].peRed, b.colors[i].rgbRed) << i;
            EXPECT_EQ(palette[i].peGreen, b.colors[i].rgbGreen) << i;
            EXPECT_EQ(palette[i].peBlue, b.colors[i].rgbBlue) << i;
            EXPECT_EQ(palette[i].peFlags, 0) << i;
        }
    }
}

TEST_F(DibTest, TrueColourImageGetsTheHalftonePalette)
{
    CDib dib;
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(TrueColour(4, 4))));
    RGBQUAD table[256];
    EXPECT_EQ(dib.ReadColorTable(table, 256), 0);
    const std::vector<PALETTEENTRY> palette = PaletteOf(dib);
    ASSERT_EQ(palette.size(), 256u);
    // The colour cube's corners are all there.
    const auto has = [&](BYTE r, BYTE g, BYTE b) {
        return std::any_of(palette.begin(), palette.end(), [&](const PALETTEENTRY& e) {
            return e.peRed == r && e.peGreen == g && e.peBlue == b;
        });
    };
    EXPECT_TRUE(has(0, 0, 0) && has(255, 255, 255) && has(255, 0, 0) && has(0, 51, 102));
}

TEST_F(DibTest, ReadColorTableStopsAtCapacityAndLeavesNothingSelected)
{
    const BmpBuilder b = Indexed(2, 2, 8);
    CDib dib;
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(b)));
    RGBQUAD table[5] = {};
    EXPECT_EQ(dib.ReadColorTable(table, 4), 4);
    EXPECT_EQ(table[3].rgbRed, b.colors[3].rgbRed);
    EXPECT_EQ(table[4].rgbRed, 0) << "written past the capacity";
    EXPECT_EQ(LiveGdiObjects(GdiKind::MemoryDC), 0);
}

TEST_F(DibTest, DrawDibPathDrawsWholeImageAtOrigin)
{
    CDib dib;
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(Indexed(5, 4, 8))));
    Canvas canvas;
    EXPECT_TRUE(dib.Draw(&canvas.dc, nullptr, nullptr, TRUE, nullptr, FALSE));
    EXPECT_EQ(m_trace, (std::vector<std::string>{"SelectPalette bg 1", "DrawDibDraw 0,0 -1x-1 flags 0x200",
                                                 "SelectPalette bg 1"}));
    EXPECT_EQ(canvas.dc.m_palette, DefaultPalette()) << "the previous palette is selected back";

    m_trace.clear();
    EXPECT_TRUE(dib.Draw(&canvas.dc, nullptr, nullptr, TRUE, nullptr, TRUE));
    EXPECT_EQ(m_trace, (std::vector<std::string>{"SelectPalette bg 0", "DrawDibDraw 0,0 -1x-1 flags 0x0",
                                                 "SelectPalette bg 1"}));
}

TEST_F(DibTest, BlitPathCopiesSameSizeAndStretchesOtherwise)
{
    CDib dib;
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(Indexed(30, 12, 4))));
    Canvas canvas(80, 40);
    EXPECT_TRUE(dib.Draw(&canvas.dc, nullptr, nullptr, FALSE, nullptr, FALSE));
    EXPECT_EQ(m_trace, (std::vector<std::string>{"SelectPalette bg 1", "BitBlt 0,0 30x12 src 0,0",
                                                 "SelectPalette bg 1"}));
    EXPECT_EQ(canvas.dc.m_stretchMode, 1) << "a plain copy leaves the stretch mode alone";

    m_trace.clear();
    const CRect wide(0, 0, 60, 24);
    EXPECT_TRUE(dib.Draw(&canvas.dc, &wide, nullptr, FALSE, nullptr, FALSE));
    EXPECT_EQ(m_trace,
              (std::vector<std::string>{"SelectPalette bg 1", "StretchBlt mode 3 0,0 60x24 src 0,0 30x12",
                                        "SelectPalette bg 1"}));
    EXPECT_EQ(canvas.dc.m_stretchMode, COLORONCOLOR);
    EXPECT_EQ(LiveGdiObjects(GdiKind::MemoryDC), 0);
}

TEST_F(DibTest, BothPathsPutTheImagesPixelsOnThePainter)
{
    for (const BmpBuilder& b : {Indexed(7, 5, 8), Indexed(7, 5, 4), TrueColour(7, 5)}) {
        for (BOOL drawDib : {TRUE, FALSE}) {
            CDib dib;
            ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(b)));
            Canvas canvas(10, 8);
            canvas.painter.translate(2, 1); // a child window's origin
            ASSERT_TRUE(dib.Draw(&canvas.dc, nullptr, nullptr, drawDib, nullptr, FALSE));
            const QImage out = canvas.Finish();
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 10; ++x) {
                    const bool inside = x >= 2 && x < 9 && y >= 1 && y < 6;
                    ASSERT_EQ(out.pixel(x, y), inside ? ColourAt(b, x - 2, y - 1) : qRgb(1, 2, 3))
                        << b.bits << " bits, DrawDib " << drawDib << " at " << x << "," << y;
                }
        }
    }
}

TEST_F(DibTest, StretchingRepeatsPixelsWithoutBlending)
{
    const BmpBuilder b = Indexed(4, 3, 8);
    for (BOOL drawDib : {TRUE, FALSE}) {
        CDib dib;
        ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(b)));
        Canvas canvas(8, 6);
        canvas.painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        const CRect doubled(0, 0, 8, 6);
        ASSERT_TRUE(dib.Draw(&canvas.dc, &doubled, nullptr, drawDib, nullptr, FALSE));
        EXPECT_TRUE(canvas.painter.testRenderHint(QPainter::SmoothPixmapTransform))
            << "the painter is left as found";
        const QImage out = canvas.Finish();
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(out.pixel(x, y), ColourAt(b, x / 2, y / 2))
                    << "DrawDib " << drawDib << " at " << x << "," << y;
    }
}

TEST_F(DibTest, SourceRectanglePicksPartOfTheImage)
{
    const BmpBuilder b = Indexed(6, 6, 8);
    CDib dib;
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(b)));
    const CRect part(2, 3, 5, 5);
    const CRect corner(0, 0, 3, 2);
    for (BOOL drawDib : {TRUE, FALSE}) {
        // Without a destination the part lands where it sits in the image.
        Canvas inPlace(6, 6);
        ASSERT_TRUE(dib.Draw(&inPlace.dc, nullptr, &part, drawDib, nullptr, FALSE));
        const QImage same = inPlace.Finish();
        EXPECT_EQ(same.pixel(2, 3), ColourAt(b, 2, 3)) << drawDib;
        EXPECT_EQ(same.pixel(4, 4), ColourAt(b, 4, 4)) << drawDib;
        EXPECT_EQ(same.pixel(1, 3), qRgb(1, 2, 3)) << drawDib;
        EXPECT_EQ(same.pixel(5, 4), qRgb(1, 2, 3)) << drawDib;

        Canvas moved(6, 6);
        ASSERT_TRUE(dib.Draw(&moved.dc, &corner, &part, drawDib, nullptr, FALSE));
        const QImage out = moved.Finish();
        EXPECT_EQ(out.pixel(0, 0), ColourAt(b, 2, 3)) << drawDib;
        EXPECT_EQ(out.pixel(2, 1), ColourAt(b, 4, 4)) << drawDib;
        EXPECT_EQ(out.pixel(0, 2), qRgb(1, 2, 3)) << drawDib;
        EXPECT_EQ(out.pixel(3, 0), qRgb(1, 2, 3)) << drawDib;
    }
}

TEST_F(DibTest, ReloadReplacesBitmapAndPaletteAndKeepsDrawDib)
{
    CDib dib;
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(Indexed(8, 8, 8))));
    Canvas canvas;
    dib.Draw(&canvas.dc, nullptr, nullptr, TRUE, nullptr, FALSE);
    const HDRAWDIB drawDib = dib.m_hDrawDib;
    ASSERT_NE(drawDib, nullptr);
    const int bitmaps = LiveGdiObjects(GdiKind::Bitmap);
    const int palettes = LiveGdiObjects(GdiKind::Palette);

    const BmpBuilder second = Indexed(5, 2, 4);
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(second)));
    EXPECT_EQ(LiveGdiObjects(GdiKind::Bitmap), bitmaps) << "the first bitmap is deleted";
    EXPECT_EQ(LiveGdiObjects(GdiKind::Palette), palettes) << "the first palette is deleted";
    EXPECT_EQ(LiveGdiObjects(GdiKind::DrawDib), 1);
    EXPECT_EQ(dib.m_hDrawDib, drawDib);
    EXPECT_EQ(dib.m_info.bmWidth, 5);
    EXPECT_EQ(dib.m_info.bmBitsPixel, 4);
    EXPECT_EQ(dib.m_palette.GetEntryCount(), 16);
    EXPECT_EQ(dib.GetImageSize(), CSize(5, 2));
}

TEST_F(DibTest, AttachRefusesWhatIsNoLiveBitmapAndKeepsTheImage)
{
    CDib dib;
    ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(Indexed(3, 3, 8))));
    const HGDIOBJ held = dib.m_hBitmap;
    const BITMAP info = dib.m_info;

    HBITMAP dead = MakeBitmap(Indexed(2, 2, 8));
    DeleteObject(reinterpret_cast<HGDIOBJ>(dead));
    EXPECT_FALSE(dib.AttachBitmap(nullptr));
    EXPECT_FALSE(dib.AttachBitmap(dead));
    EXPECT_EQ(dib.m_hBitmap, held);
    EXPECT_EQ(dib.m_info.bmWidth, info.bmWidth);
    EXPECT_EQ(dib.m_info.bmBits, info.bmBits);
    EXPECT_EQ(dib.m_palette.GetEntryCount(), 256);

    // Attaching the bitmap it already holds must not free it.
    EXPECT_TRUE(dib.AttachBitmap(dib));
    EXPECT_EQ(dib.GetImageSize(), CSize(3, 3));
}

TEST_F(DibTest, LoadFromResource)
{
    CDib dib;
    EXPECT_FALSE(dib.LoadFromResource(AfxGetResourceHandle(), "NO_SUCH_BITMAP"));
    EXPECT_EQ(dib.m_hBitmap, nullptr);
    EXPECT_EQ(dib.m_palette.GetSafeHandle(), nullptr);
    if (!dib.LoadFromResource(AfxGetResourceHandle(), "RACK"))
        GTEST_SKIP() << "no RACK bitmap built in";
    EXPECT_EQ(dib.GetImageSize(), CSize(600, 200));
    EXPECT_EQ(dib.m_info.bmBitsPixel, 8);
    EXPECT_EQ(dib.m_palette.GetEntryCount(), 256);
    EXPECT_FALSE(dib.LoadFromResource(AfxGetResourceHandle(), "NO_SUCH_BITMAP"));
    EXPECT_EQ(dib.GetImageSize(), CSize(600, 200)) << "a failed load keeps the image";
}

TEST_F(DibTest, EmptyImageDrawsNothingAndReleasesNothing)
{
    CDib dib;
    EXPECT_EQ(dib.GetImageSize(), CSize(0, 0));
    Canvas canvas;
    EXPECT_FALSE(dib.Draw(&canvas.dc, nullptr, nullptr, TRUE, nullptr, FALSE));
    EXPECT_FALSE(dib.Draw(&canvas.dc, nullptr, nullptr, FALSE, nullptr, FALSE));
    EXPECT_FALSE(BlitBitmap(&canvas.dc, dib, nullptr, nullptr));
    EXPECT_EQ(dib.m_hDrawDib, nullptr);
    EXPECT_EQ(canvas.dc.m_palette, DefaultPalette());
    EXPECT_TRUE(std::none_of(m_trace.begin(), m_trace.end(), [](const std::string& line) {
        return line.rfind("SelectPalette", 0) == 0 || line.rfind("DrawDib", 0) == 0;
    }));
    EXPECT_FALSE(dib.Release());
    const QImage out = canvas.Finish();
    EXPECT_EQ(out.pixel(0, 0), qRgb(1, 2, 3));
}

TEST_F(DibTest, ReleaseAndDestructionFreeEverythingOnce)
{
    {
        CDib dib;
        ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(Indexed(4, 4, 8))));
        Canvas canvas;
        dib.Draw(&canvas.dc, nullptr, nullptr, TRUE, nullptr, FALSE);
        EXPECT_TRUE(dib.Release());
        EXPECT_EQ(dib.m_hBitmap, nullptr);
        EXPECT_EQ(dib.m_hDrawDib, nullptr);
        EXPECT_EQ(dib.m_palette.GetSafeHandle(), nullptr);
        EXPECT_EQ(dib.m_info.bmWidth, 0);
        EXPECT_EQ(dib.m_info.bmBits, nullptr);
        EXPECT_EQ(LiveGdiObjects(), m_live);
        EXPECT_FALSE(dib.Release());

        ASSERT_TRUE(dib.AttachBitmap(MakeBitmap(Indexed(4, 4, 8))));
        dib.Draw(&canvas.dc, nullptr, nullptr, TRUE, nullptr, FALSE);
    }
    // The destructor released the second load; TearDown checks that nothing is left.
}
