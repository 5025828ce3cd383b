#pragma once
// Bitmaps, palettes and drawing contexts: DIB sections loaded from the program's resources,
// palettes built from their colour tables, and a drawing context over a QPainter that blits,
// stretches, writes text and draws through DrawDib.

#include "platform/win_types.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class QPainter;

// ---- Handles ------------------------------------------------------------------------------

// Every GDI object lives on the heap behind a handle; the layer keeps a register of live
// handles so that a deleted or foreign handle is refused rather than followed.
struct GdiObject {
    virtual ~GdiObject() = default;
};
struct DibSection;
struct PaletteObject;
struct IconObject;
struct DrawDibObject;
class CDC;

using HGDIOBJ = GdiObject*;
using HBITMAP = DibSection*;
using HPALETTE = PaletteObject*;
using HICON = IconObject*;
using HDRAWDIB = DrawDibObject*;
using HDC = CDC*;
using HANDLE = void*;
using HINSTANCE = void*;

// Resource names are strings, or small integers dressed as pointers.
inline const char* MAKEINTRESOURCE(int id)
{
    return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(id));
}
inline bool IS_INTRESOURCE(const char* name) { return reinterpret_cast<std::uintptr_t>(name) < 0x10000; }

HINSTANCE AfxGetResourceHandle();

// ---- Records ------------------------------------------------------------------------------

#pragma pack(push, 1)
struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};
struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};

// ---- Objects and handles ------------------------------------------------------------------

constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT LR_DEFAULTSIZE = 0x0040;
constexpr UINT LR_CREATEDIBSECTION = 0x2000;

// A bitmap resource as a DIB section, or null when it is missing or malformed.
HANDLE LoadImageA(HINSTANCE instance, const char* name, UINT type, int cx, int cy, UINT flags);
// A DIB section from the bytes of a BMP file, or null when they are not a bitmap we read.
HBITMAP CreateBitmapFromBmp(std::span<const std::uint8_t> file);
// Fills the DIBSECTION record of a bitmap when `size` allows it, else its BITMAP record, and
// returns the bytes written; 0 on failure or for anything but a bitmap.
int GetObjectA(HGDIOBJ object, int size, void* out);
BOOL DeleteObject(HGDIOBJ object);

HPALETTE CreatePalette(const LOGPALETTE* logical);
// The 20 static colours every drawing context starts with; it is never deleted.
HPALETTE DefaultPalette();
HPALETTE CreateHalftonePalette(HDC dc);
// Copies up to `count` entries from `start` and returns how many; with no output array it
// returns the palette's number of entries. 0 for a null or dead handle.
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* out);
WORD GetPaletteVersion(HPALETTE palette);

// An icon resource; icons are shared, so loading the same one again gives the same handle.
HICON LoadIconA(HINSTANCE instance, const char* name);

// ---- Drawing contexts ---------------------------------------------------------------------

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr int COLORONCOLOR = 3;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr UINT DDF_BACKGROUNDPAL = 0x0200;

// A drawing context. One over a painter draws; a memory context holds a selected bitmap as
// a blit source; the screen context only serves as a reference for compatible contexts.
class CDC {
public:
    CDC() = default;
    explicit CDC(QPainter* painter) : m_painter(painter) {}
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC() = default;

    QPainter* Painter() const { return m_painter; }
    void SetPainter(QPainter* painter) { m_painter = painter; }
    HDC GetSafeHdc() { return this; }

    COLORREF m_textColor = RGB(0, 0, 0);
    int m_bkMode = OPAQUE;
    int m_stretchMode = 1;
    HPALETTE m_palette = DefaultPalette();
    HGDIOBJ m_selected = nullptr; // the bitmap of a memory context
    bool m_memory = false;

private:
    QPainter* m_painter = nullptr;
};

HDC GetWindowDC(void* window); // only the screen (null) is asked for
int ReleaseDC(void* window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* out);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC dc);
BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int xSrc, int ySrc, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int xSrc, int ySrc, int cxSrc, int cySrc,
                DWORD rop);
int SetStretchBltMode(HDC dc, int mode);
int SetBkMode(HDC dc, int mode);
COLORREF SetTextColor(HDC dc, COLORREF color);
// Writes text in the dialog font with its top-left at (x, y), clipped by the painter's clip.
BOOL TextOutA(HDC dc, int x, int y, const char* text, int length);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);

HDRAWDIB DrawDibOpen();
BOOL DrawDibClose(HDRAWDIB drawDib);
BOOL DrawDibDraw(HDRAWDIB drawDib, HDC dc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* header, const void* bits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT flags);

// ---- Framework objects --------------------------------------------------------------------

// Owns one GDI handle and deletes it when destroyed.
class CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject() { DeleteObject(); }

    HGDIOBJ m_hObject = nullptr;

    BOOL Attach(HGDIOBJ object);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
};

class CPalette : public CGdiObject {
public:
    // The handle types name objects this header does not define, so the palette handle is
    // passed on as the GDI object it is.
    BOOL CreatePalette(const LOGPALETTE* logical)
    {
        return Attach(reinterpret_cast<HGDIOBJ>(::CreatePalette(logical)));
    }
    BOOL CreateHalftonePalette(HDC dc)
    {
        return Attach(reinterpret_cast<HGDIOBJ>(::CreateHalftonePalette(dc)));
    }
    operator HPALETTE() const { return reinterpret_cast<HPALETTE>(m_hObject); }
    int GetEntryCount() const;
};

// ---- Inspection for tests -----------------------------------------------------------------

// When a list is given, every drawing call appends a line describing itself, such as
// "BitBlt 0,0 30x12 src 0,0", "StretchBlt mode 3 0,0 60x24 src 0,0 30x12",
// "DrawDibDraw 0,0 -1x-1 flags 0x200", "SelectPalette bg 1", "DrawIcon 0,0" or
// "TextOut 0,0 \"text\" colour 0x00FF00 mode 1", so tests can see which path ran.
void SetGdiTrace(std::vector<std::string>* trace);
void GdiTrace(const std::string& line);
// The live handles of each kind, to check that nothing leaks or is freed twice. The stock
// objects are not counted; memory drawing contexts are, as they must be deleted too.
enum class GdiKind { Bitmap, Palette, Icon, DrawDib, MemoryDC };
int LiveGdiObjects(GdiKind kind);
// Bitmaps, palettes, DrawDib contexts and memory drawing contexts together (icons are shared
// and live as long as the program).
int LiveGdiObjects();
