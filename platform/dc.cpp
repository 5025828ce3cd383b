// Drawing contexts: the screen and memory contexts, palette selection, blits and stretches,
// text in the dialog font, icons and DrawDib, all painting through the context's QPainter.

#include "platform/bmp_reader.h"
#include "platform/gdi_objects.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

namespace {

std::vector<std::string>* g_trace = nullptr;

std::string Format(const char* pattern, auto... values)
{
    char line[160];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

// A context we may paint on: one with a painter. A memory context is never a destination.
enum class Target { Paint, Nowhere, Refused };

Target TargetOf(HDC dc)
{
    if (!dc || dc->m_memory)
        return Target::Refused;
    return dc->Painter() ? Target::Paint : Target::Nowhere;
}

BOOL ResultFor(Target target) { return target == Target::Refused ? FALSE : TRUE; }

// The bitmap selected into a live memory context, or null.
DibSection* SourceBitmap(HDC src)
{
    return gdi_register::HoldsMemoryDC(src) ? gdi_register::FindBitmap(src->m_selected) : nullptr;
}

// Copies `source` of `image` onto `target`, scaling by nearest neighbour when the sizes
// differ. Parts of the source outside the image are left out, and so are the matching parts
// of the target.
void PaintImage(QPainter& painter, const QRect& target, const QImage& image, const QRect& source)
{
    const QRect inside = source.intersected(image.rect());
    if (inside.isEmpty())
        return;
    if (target.size() == source.size()) {
        painter.drawImage(target.topLeft() + (inside.topLeft() - source.topLeft()), image, inside);
        return;
    }
    const double sx = double(target.width()) / source.width();
    const double sy = double(target.height()) / source.height();
    const QRectF scaled(target.x() + (inside.x() - source.x()) * sx,
                        target.y() + (inside.y() - source.y()) * sy, inside.width() * sx,
                        inside.height() * sy);
    const bool smooth = painter.testRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(scaled, image, QRectF(inside));
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

QColor ToQColor(COLORREF colour) { return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour)); }

} // namespace

// ---- Trace ----------------------------------------------------------------------------------

void SetGdiTrace(std::vector<std::string>* trace) { g_trace = trace; }

void GdiTrace(const std::string& line)
{
    if (g_trace)
        g_trace->push_back(line);
}

bool GdiTracing() { return g_trace != nullptr; }

// ---- Contexts -------------------------------------------------------------------------------

HDC GetWindowDC(void* window)
{
    if (window)
        return nullptr;
    static CDC* screen = new CDC;
    return screen;
}

int ReleaseDC(void* window, HDC dc) { return dc && dc == GetWindowDC(nullptr) ? 1 : 0; }

HDC CreateCompatibleDC(HDC dc)
{
    auto* memory = new CDC;
    memory->m_memory = true;
    memory->m_selected = reinterpret_cast<HGDIOBJ>(DefaultBitmap());
    gdi_register::AddMemoryDC(memory);
    return memory;
}

BOOL DeleteDC(HDC dc)
{
    if (!gdi_register::HoldsMemoryDC(dc))
        return FALSE;
    if (DibSection* selected = gdi_register::FindBitmap(dc->m_selected);
        selected && selected->selectedInto == dc)
        selected->selectedInto = nullptr;
    gdi_register::RemoveMemoryDC(dc);
    delete dc;
    return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object)
{
    // Only bitmaps are selected this way, only into memory contexts, and a bitmap sits in one
    // context at a time.
    DibSection* bitmap = gdi_register::FindBitmap(object);
    if (!gdi_register::HoldsMemoryDC(dc) || !bitmap)
        return nullptr;
    const bool stock = gdi_register::IsStock(object);
    if (!stock && bitmap->selectedInto && bitmap->selectedInto != dc)
        return nullptr;
    HGDIOBJ previous = dc->m_selected;
    if (DibSection* old = gdi_register::FindBitmap(previous); old && old->selectedInto == dc)
        old->selectedInto = nullptr;
    if (!stock)
        bitmap->selectedInto = dc;
    dc->m_selected = object;
    return previous;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* out)
{
    const DibSection* bitmap = SourceBitmap(dc);
    if (!bitmap || !out || start >= bitmap->colors.size())
        return 0;
    const UINT copied = std::min<UINT>(count, UINT(bitmap->colors.size()) - start);
    std::copy_n(bitmap->colors.begin() + start, copied, out);
    return copied;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground)
{
    if (GdiTracing())
        GdiTrace(Format("SelectPalette bg %d", forceBackground ? 1 : 0));
    if (!dc || !gdi_register::FindPalette(palette))
        return nullptr;
    HPALETTE previous = dc->m_palette;
    dc->m_palette = palette;
    return previous;
}

// A true-colour screen maps every colour exactly, so no palette entry needs realising.
UINT RealizePalette(HDC dc) { return 0; }

int SetStretchBltMode(HDC dc, int mode)
{
    if (!dc || mode < 1 || mode > 4)
        return 0;
    return std::exchange(dc->m_stretchMode, mode);
}

int SetBkMode(HDC dc, int mode)
{
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    return std::exchange(dc->m_bkMode, mode);
}

COLORREF SetTextColor(HDC dc, COLORREF color)
{
    if (!dc)
        return 0xFFFFFFFF;
    return std::exchange(dc->m_textColor, color);
}

// ---- Blits ----------------------------------------------------------------------------------

BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int xSrc, int ySrc, DWORD rop)
{
    if (GdiTracing())
        GdiTrace(Format("BitBlt %d,%d %dx%d src %d,%d", x, y, cx, cy, xSrc, ySrc));
    const DibSection* bitmap = SourceBitmap(src);
    const Target target = TargetOf(dst);
    if (!bitmap || rop != SRCCOPY || cx < 0 || cy < 0 || target == Target::Refused)
        return FALSE;
    if (target == Target::Paint)
        PaintImage(*dst->Painter(), QRect(x, y, cx, cy), bitmap->image, QRect(xSrc, ySrc, cx, cy));
    return TRUE;
}

BOOL StretchBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int xSrc, int ySrc, int cxSrc, int cySrc,
                DWORD rop)
{
    if (GdiTracing())
        GdiTrace(Format("StretchBlt mode %d %d,%d %dx%d src %d,%d %dx%d", dst ? dst->m_stretchMode : 0, x, y,
                        cx, cy, xSrc, ySrc, cxSrc, cySrc));
    // Mirroring by negative sizes is not something the program does; it is refused.
    const DibSection* bitmap = SourceBitmap(src);
    const Target target = TargetOf(dst);
    if (!bitmap || rop != SRCCOPY || cx < 0 || cy < 0 || cxSrc < 0 || cySrc < 0 || target == Target::Refused)
        return FALSE;
    if (target == Target::Paint && cxSrc > 0 && cySrc > 0)
        PaintImage(*dst->Painter(), QRect(x, y, cx, cy), bitmap->image, QRect(xSrc, ySrc, cxSrc, cySrc));
    return TRUE;
}

// ---- Text and icons -------------------------------------------------------------------------

const QFont& DialogFont()
{
    // Kept for the whole run: a QFont must not outlive the application object, and this one
    // is never destroyed at all.
    static QFont* font = [] {
        auto* f = new QFont(QStringLiteral("DejaVu Sans"));
        f->setPixelSize(11);
        return f;
    }();
    return *font;
}

BOOL TextOutA(HDC dc, int x, int y, const char* text, int length)
{
    if (!text || length < 0)
        return FALSE;
    const std::string bytes(text, std::size_t(length));
    if (GdiTracing())
        GdiTrace(Format("TextOut %d,%d ", x, y) + "\"" + bytes + "\"" +
                 Format(" colour 0x%06X mode %d", dc ? dc->m_textColor : 0, dc ? dc->m_bkMode : 0));
    const Target target = TargetOf(dc);
    if (target != Target::Paint)
        return ResultFor(target);

    QPainter& painter = *dc->Painter();
    const QString line = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    const QFontMetrics metrics(DialogFont());
    if (dc->m_bkMode == OPAQUE)
        painter.fillRect(QRect(x, y, metrics.horizontalAdvance(line), metrics.height()), Qt::white);
    painter.setFont(DialogFont());
    painter.setPen(ToQColor(dc->m_textColor));
    painter.drawText(QPoint(x, y + metrics.ascent()), line);
    return TRUE;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon)
{
    if (GdiTracing())
        GdiTrace(Format("DrawIcon %d,%d", x, y));
    constexpr int kIconSide = 32;
    const QImage* image = IconImage(icon, kIconSide);
    const Target target = TargetOf(dc);
    if (!image || target == Target::Refused)
        return FALSE;
    if (target == Target::Paint)
        dc->Painter()->drawImage(QRect(x, y, kIconSide, kIconSide), *image);
    return TRUE;
}

// ---- DrawDib --------------------------------------------------------------------------------

HDRAWDIB DrawDibOpen()
{
    auto* drawDib = new DrawDibObject;
    gdi_register::Add(drawDib, GdiKind::DrawDib);
    return drawDib;
}

BOOL DrawDibClose(HDRAWDIB drawDib)
{
    DrawDibObject* object = gdi_register::FindDrawDib(drawDib);
    if (!object)
        return FALSE;
    gdi_register::Remove(object);
    delete object;
    return TRUE;
}

namespace {

bool SameShape(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b)
{
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight && a.biBitCount == b.biBitCount;
}

// A packed bitmap that is no DIB section of ours is decoded from the caller's header, colour
// table (right after the header) and rows; the caller vouches that they are that long.
std::optional<QImage> DecodePacked(const BITMAPINFOHEADER& header, const void* bits)
{
    constexpr DWORD kLargestHeader = 124;
    const std::optional<DibLayout> layout = CheckDibHeader(header);
    if (!layout || header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > kLargestHeader)
        return std::nullopt;
    const auto* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(&header) + header.biSize);
    const auto* rows = static_cast<const std::uint8_t*>(bits);
    QImage image =
        DecodeDibPixels(*layout, {table, std::size_t(layout->colorCount)}, {rows, layout->imageBytes});
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace

BOOL DrawDibDraw(HDRAWDIB drawDib, HDC dc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* header, const void* bits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT flags)
{
    if (GdiTracing())
        GdiTrace(Format("DrawDibDraw %d,%d %dx%d flags 0x%X", xDst, yDst, dxDst, dyDst, flags));
    const Target target = TargetOf(dc);
    if (!gdi_register::FindDrawDib(drawDib) || !header || !bits || target == Target::Refused)
        return FALSE;

    // Our own bitmaps already carry their 32-bit picture; only foreign rows need decoding.
    const DibSection* dib = gdi_register::BitmapWithBits(bits);
    std::optional<QImage> decoded;
    if (!dib || !SameShape(dib->header, *header)) {
        dib = nullptr;
        decoded = DecodePacked(*header, bits);
        if (!decoded)
            return FALSE;
    }
    const QImage& image = dib ? dib->image : *decoded;

    // -1 stands for the image's own width or height; other negative sizes mean nothing.
    const auto own = [](int size, int whole) { return size == -1 ? whole : size; };
    const QRect source(xSrc, ySrc, own(dxSrc, image.width()), own(dySrc, image.height()));
    const QRect destination(xDst, yDst, own(dxDst, image.width()), own(dyDst, image.height()));
    if (source.width() < 0 || source.height() < 0 || destination.width() < 0 || destination.height() < 0)
        return FALSE;
    if (target == Target::Paint && !source.isEmpty() && !destination.isEmpty())
        PaintImage(*dc->Painter(), destination, image, source);
    return TRUE;
}
