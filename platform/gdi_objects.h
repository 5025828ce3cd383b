#pragma once
// The objects behind the GDI handles and the register of live handles. Only the layer's own
// drawing code includes this; the program sees the handles as opaque pointers.

#include "platform/gdi.h"

#include <QImage>

#include <cstdint>
#include <vector>

// A device-independent bitmap: the header, colour table and pixel rows as stored in its BMP
// file, plus the 32-bit picture that painting uses, decoded once.
struct DibSection final : GdiObject {
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> colors;
    std::vector<std::uint8_t> bits;
    int stride = 0;
    QImage image;
    HDC selectedInto = nullptr; // the memory context holding it, if any
};

struct PaletteObject final : GdiObject {
    WORD version = 0x300;
    std::vector<PALETTEENTRY> entries;
};

struct IconObject final : GdiObject {
    std::vector<QImage> images; // every size the icon file offers
};

struct DrawDibObject final : GdiObject {};

// The register: every handle the layer gave out and has not yet freed, with its kind. A
// handle is followed only after the register has vouched for it.
namespace gdi_register {

void Add(GdiObject* object, GdiKind kind, bool stock = false);
void Remove(GdiObject* object);
bool Holds(const void* handle, GdiKind kind);
bool IsStock(const void* handle);
int Count(GdiKind kind);
// The live bitmap whose pixel rows start at `bits`, or null.
DibSection* BitmapWithBits(const void* bits);

void AddMemoryDC(HDC dc);
void RemoveMemoryDC(HDC dc);
bool HoldsMemoryDC(HDC dc);

// Typed look-ups that refuse anything the register does not hold.
DibSection* FindBitmap(const void* handle);
PaletteObject* FindPalette(const void* handle);
IconObject* FindIcon(const void* handle);
DrawDibObject* FindDrawDib(const void* handle);

} // namespace gdi_register

// The 1 × 1 bitmap a fresh memory context holds, so that the bitmap a caller selects can
// always be swapped back out.
HBITMAP DefaultBitmap();

// True when the trace is on, so callers build their lines only when someone reads them.
bool GdiTracing();

// ---- What the Qt host and the tests take from the drawing layer ----

// The picture of an icon whose side is nearest to `size`, or null for a null or dead handle.
const QImage* IconImage(HICON icon, int size);
// The dialog font, "8 point MS Sans Serif" in its Linux form: DejaVu Sans, 11 pixels.
const QFont& DialogFont();

// The 32-bit picture of a bitmap, for painting and for tests.
const QImage* DibImage(HBITMAP bitmap);
