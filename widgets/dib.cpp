#include "widgets/dib.h"

#include <array>
#include <cstddef>
#include <memory>
#include <new>

namespace {

constexpr int kColorTableCapacity = 256;
constexpr WORD kPaletteVersion = 0x300;

// A packed bitmap description as DrawDib takes it: the header, then the colour table.
struct BitmapInfoBlock {
    BITMAPINFOHEADER header;
    RGBQUAD colors[kColorTableCapacity];
};

// Builds a logical palette of `count` entries from colour-table entries, whose blue-green-red
// byte order becomes the palette's red-green-blue order. Null when there is no memory.
std::unique_ptr<std::byte[]> MakeLogicalPalette(const RGBQUAD* colors, int count)
{
    const std::size_t size = offsetof(LOGPALETTE, palPalEntry) + std::size_t(count) * sizeof(PALETTEENTRY);
    std::unique_ptr<std::byte[]> block(new (std::nothrow) std::byte[size]);
    if (!block)
        return block;
    auto* logical = reinterpret_cast<LOGPALETTE*>(block.get());
    logical->palVersion = kPaletteVersion;
    logical->palNumEntries = WORD(count);
    PALETTEENTRY* entries = logical->palPalEntry;
    for (int i = 0; i < count; ++i)
        entries[i] = PALETTEENTRY{colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue, 0};
    return block;
}

} // namespace

CDib::~CDib() { Release(); }

BOOL CDib::LoadFromResource(HINSTANCE instance, const char* name)
{
    HANDLE handle = LoadImageA(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_DEFAULTSIZE);
    return AttachBitmap(static_cast<HBITMAP>(handle));
}

BOOL CDib::AttachBitmap(HBITMAP bitmap)
{
    HGDIOBJ object = reinterpret_cast<HGDIOBJ>(bitmap);
    // The new bitmap is described before the old one is let go: a handle that is no live
    // bitmap leaves the image exactly as it was rather than holding a handle it cannot use.
    BITMAP info{};
    if (!object || !GetObjectA(object, sizeof info, &info))
        return FALSE;
    if (!Attach(object))
        return FALSE;
    m_info = info;
    m_palette.DeleteObject();
    return BuildPalette(m_palette);
}

int CDib::ReadColorTable(RGBQUAD* entries, int count)
{
    if (!entries || count <= 0)
        return 0;
    HDC screen = GetWindowDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, m_hObject);
    const UINT read = GetDIBColorTable(memory, 0, UINT(count), entries);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return int(read);
}

BOOL CDib::BuildPalette(CPalette& palette)
{
    std::array<RGBQUAD, kColorTableCapacity> colors{};
    const int count = ReadColorTable(colors.data(), kColorTableCapacity);
    if (count == 0) {
        // No colour table (more than 8 bits per pixel): the screen's halftone palette serves.
        HDC screen = GetWindowDC(nullptr);
        const BOOL created = palette.CreateHalftonePalette(screen);
        ReleaseDC(nullptr, screen);
        return created;
    }
    const std::unique_ptr<std::byte[]> logical = MakeLogicalPalette(colors.data(), count);
    if (!logical)
        return FALSE;
    return palette.CreatePalette(reinterpret_cast<const LOGPALETTE*>(logical.get()));
}

CSize CDib::GetImageSize() const
{
    BITMAP info{};
    if (!GetObjectA(m_hObject, sizeof info, &info))
        return CSize(0, 0);
    return CSize(info.bmWidth, info.bmHeight);
}

BOOL CDib::Draw(CDC* dc, const CRect* dst, const CRect* src, BOOL useDrawDib, CPalette* palette,
                BOOL foreground)
{
    if (!m_hObject)
        return FALSE;
    const HPALETTE chosen = palette ? HPALETTE(*palette) : HPALETTE(m_palette);
    const HPALETTE previous = SelectPalette(dc, chosen, !foreground);
    RealizePalette(dc);

    BOOL result = FALSE;
    if (useDrawDib) {
        const CRect source = src ? *src : CRect(0, 0, -1, -1);
        const CRect destination = dst ? *dst : source;
        if (!m_hDrawDib)
            m_hDrawDib = DrawDibOpen();
        // The description is rebuilt for every draw, from the bitmap as it is now.
        DIBSECTION section{};
        BitmapInfoBlock block{};
        if (GetObjectA(m_hObject, sizeof section, &section)) {
            block.header = section.dsBmih;
            ReadColorTable(block.colors, kColorTableCapacity);
            result = DrawDibDraw(m_hDrawDib, dc, destination.left, destination.top, destination.Width(),
                                 destination.Height(), &block.header, m_info.bmBits, source.left, source.top,
                                 source.Width(), source.Height(), foreground ? 0 : DDF_BACKGROUNDPAL);
        }
    } else {
        result = BlitBitmap(dc, *this, dst, src);
    }

    if (previous)
        SelectPalette(dc, previous, TRUE);
    return result;
}

BOOL CDib::Release()
{
    m_palette.DeleteObject();
    if (m_hDrawDib) {
        DrawDibClose(m_hDrawDib);
        m_hDrawDib = nullptr;
    }
    m_info = BITMAP{};
    if (!m_hObject)
        return FALSE;
    return DeleteObject();
}

BOOL BlitBitmap(CDC* dc, CDib& bitmap, const CRect* dst, const CRect* src)
{
    const CSize size = bitmap.GetImageSize();
    const CRect source = src ? *src : CRect(0, 0, size.cx, size.cy);
    const CRect destination = dst ? *dst : source;

    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap.m_hBitmap);
    BOOL result = FALSE;
    // A bitmap that cannot be selected (an empty image) has nothing to blit.
    if (previous) {
        if (destination.Width() == source.Width() && destination.Height() == source.Height()) {
            result = BitBlt(dc, destination.left, destination.top, destination.Width(), destination.Height(),
                            memory, source.left, source.top, SRCCOPY);
        } else {
            SetStretchBltMode(dc, COLORONCOLOR);
            result =
                StretchBlt(dc, destination.left, destination.top, destination.Width(), destination.Height(),
                           memory, source.left, source.top, source.Width(), source.Height(), SRCCOPY);
        }
        SelectObject(memory, previous);
    }
    DeleteDC(memory);
    return result;
}
