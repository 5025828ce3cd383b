// Bitmaps, palettes and icons behind their handles, the register that vouches for them, and
// the framework's GDI-object wrappers.

#include "platform/gdi_objects.h"
#include "platform/bmp_reader.h"
#include "platform/resources.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace {

struct RegisterEntry {
    GdiObject* object = nullptr;
    GdiKind kind = GdiKind::Bitmap;
    bool stock = false;
};

struct Register {
    std::unordered_map<const void*, RegisterEntry> objects;
    std::unordered_map<const void*, DibSection*> bitmapsByBits;
    std::unordered_set<HDC> memoryDCs;
};

// Never destroyed: images with static storage duration release their bitmaps after every
// other static object of the layer may already be gone, and must still find the register.
Register& TheRegister()
{
    static Register* reg = new Register;
    return *reg;
}

const RegisterEntry* Lookup(const void* handle)
{
    if (!handle)
        return nullptr;
    const auto& objects = TheRegister().objects;
    const auto found = objects.find(handle);
    return found == objects.end() ? nullptr : &found->second;
}

template <class T> T* FindOfKind(const void* handle, GdiKind kind)
{
    const RegisterEntry* entry = Lookup(handle);
    return entry && entry->kind == kind ? static_cast<T*>(entry->object) : nullptr;
}

void Forget(GdiObject* object)
{
    gdi_register::Remove(object);
    delete object;
}

} // namespace

// ---- The register ---------------------------------------------------------------------------

namespace gdi_register {

void Add(GdiObject* object, GdiKind kind, bool stock)
{
    TheRegister().objects[object] = RegisterEntry{object, kind, stock};
    if (kind == GdiKind::Bitmap) {
        auto* bitmap = static_cast<DibSection*>(object);
        TheRegister().bitmapsByBits[bitmap->bits.data()] = bitmap;
    }
}

void Remove(GdiObject* object)
{
    const RegisterEntry* entry = Lookup(object);
    if (!entry)
        return;
    if (entry->kind == GdiKind::Bitmap)
        TheRegister().bitmapsByBits.erase(static_cast<DibSection*>(object)->bits.data());
    TheRegister().objects.erase(object);
}

bool Holds(const void* handle, GdiKind kind)
{
    const RegisterEntry* entry = Lookup(handle);
    return entry && entry->kind == kind;
}

bool IsStock(const void* handle)
{
    const RegisterEntry* entry = Lookup(handle);
    return entry && entry->stock;
}

int Count(GdiKind kind)
{
    if (kind == GdiKind::MemoryDC)
        return int(TheRegister().memoryDCs.size());
    const auto& objects = TheRegister().objects;
    return int(std::count_if(objects.begin(), objects.end(), [kind](const auto& item) {
        return item.second.kind == kind && !item.second.stock;
    }));
}

DibSection* BitmapWithBits(const void* bits)
{
    if (!bits)
        return nullptr;
    const auto& byBits = TheRegister().bitmapsByBits;
    const auto found = byBits.find(bits);
    return found == byBits.end() ? nullptr : found->second;
}

void AddMemoryDC(HDC dc) { TheRegister().memoryDCs.insert(dc); }
void RemoveMemoryDC(HDC dc) { TheRegister().memoryDCs.erase(dc); }
bool HoldsMemoryDC(HDC dc) { return dc && TheRegister().memoryDCs.contains(dc); }

DibSection* FindBitmap(const void* handle) { return FindOfKind<DibSection>(handle, GdiKind::Bitmap); }
PaletteObject* FindPalette(const void* handle) { return FindOfKind<PaletteObject>(handle, GdiKind::Palette); }
IconObject* FindIcon(const void* handle) { return FindOfKind<IconObject>(handle, GdiKind::Icon); }
DrawDibObject* FindDrawDib(const void* handle) { return FindOfKind<DrawDibObject>(handle, GdiKind::DrawDib); }

} // namespace gdi_register

int LiveGdiObjects(GdiKind kind) { return gdi_register::Count(kind); }

int LiveGdiObjects()
{
    return gdi_register::Count(GdiKind::Bitmap) + gdi_register::Count(GdiKind::Palette) +
           gdi_register::Count(GdiKind::DrawDib) + gdi_register::Count(GdiKind::MemoryDC);
}

HINSTANCE AfxGetResourceHandle()
{
    // The program is its own and only resource module; any non-null value names it.
    static int module = 0;
    return &module;
}

// ---- Bitmaps --------------------------------------------------------------------------------

HBITMAP CreateBitmapFromBmp(std::span<const std::uint8_t> file)
{
    std::optional<BmpImage> bmp = ReadBmp(file);
    if (!bmp)
        return nullptr;
    auto* bitmap = new DibSection;
    bitmap->header = bmp->header;
    bitmap->colors = std::move(bmp->colors);
    bitmap->bits = std::move(bmp->pixels);
    bitmap->stride = int(bmp->layout.stride);
    bitmap->image = std::move(bmp->image);
    gdi_register::Add(bitmap, GdiKind::Bitmap);
    return bitmap;
}

HBITMAP DefaultBitmap()
{
    static HBITMAP bitmap = [] {
        auto* one = new DibSection;
        one->header = BITMAPINFOHEADER{40, 1, 1, 1, 32, 0, 4, 0, 0, 0, 0};
        one->bits.assign(4, 0);
        one->stride = 4;
        one->image = QImage(1, 1, QImage::Format_RGB32);
        one->image.fill(Qt::black);
        gdi_register::Add(one, GdiKind::Bitmap, true);
        return one;
    }();
    return bitmap;
}

HANDLE LoadImageA(HINSTANCE instance, const char* name, UINT type, int cx, int cy, UINT flags)
{
    // Every bitmap is a DIB section at its own size, which is all the program asks for.
    if (type != IMAGE_BITMAP || !name)
        return nullptr;
    return CreateBitmapFromBmp(FindResourceBytes(ResourceKind::Bitmap, name));
}

const QImage* DibImage(HBITMAP bitmap)
{
    const DibSection* dib = gdi_register::FindBitmap(bitmap);
    return dib ? &dib->image : nullptr;
}

namespace {

BITMAP DescribeBitmap(DibSection& dib)
{
    BITMAP info{};
    info.bmType = 0;
    info.bmWidth = dib.header.biWidth;
    info.bmHeight = std::abs(dib.header.biHeight);
    info.bmWidthBytes = dib.stride;
    info.bmPlanes = 1;
    info.bmBitsPixel = dib.header.biBitCount;
    info.bmBits = dib.bits.data();
    return info;
}

} // namespace

int GetObjectA(HGDIOBJ object, int size, void* out)
{
    DibSection* dib = gdi_register::FindBitmap(object);
    if (!dib || !out || size < int(sizeof(BITMAP)))
        return 0;
    if (size >= int(sizeof(DIBSECTION))) {
        DIBSECTION section{};
        section.dsBm = DescribeBitmap(*dib);
        section.dsBmih = dib->header;
        *static_cast<DIBSECTION*>(out) = section;
        return int(sizeof(DIBSECTION));
    }
    *static_cast<BITMAP*>(out) = DescribeBitmap(*dib);
    return int(sizeof(BITMAP));
}

BOOL DeleteObject(HGDIOBJ object)
{
    const RegisterEntry* entry = Lookup(object);
    // Stock objects stay; icons are shared resources and DrawDib contexts are closed, not
    // deleted; a bitmap still selected into a memory context would leave that context
    // pointing at freed pixels.
    if (!entry || entry->stock)
        return FALSE;
    if (entry->kind != GdiKind::Bitmap && entry->kind != GdiKind::Palette)
        return FALSE;
    if (entry->kind == GdiKind::Bitmap && static_cast<DibSection*>(entry->object)->selectedInto)
        return FALSE;
    Forget(entry->object);
    return TRUE;
}

// ---- Palettes -------------------------------------------------------------------------------

namespace {

// The colours a true-colour screen's default palette reserves: ten at each end.
constexpr std::array<PALETTEENTRY, 20> kStaticColours = {{
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
}};

HPALETTE NewPalette(WORD version, std::vector<PALETTEENTRY> entries, bool stock = false)
{
    auto* palette = new PaletteObject;
    palette->version = version;
    palette->entries = std::move(entries);
    gdi_register::Add(palette, GdiKind::Palette, stock);
    return palette;
}

// 256 colours: the ten low static colours, a 6 × 6 × 6 colour cube, twenty greys between the
// cube's grey steps, and the ten high static colours.
std::vector<PALETTEENTRY> HalftoneEntries()
{
    std::vector<PALETTEENTRY> entries(kStaticColours.begin(), kStaticColours.begin() + 10);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                entries.push_back({BYTE(r * 51), BYTE(g * 51), BYTE(b * 51), 0});
    for (int i = 1; i <= 20; ++i) {
        const BYTE grey = BYTE(i * 255 / 21);
        entries.push_back({grey, grey, grey, 0});
    }
    entries.insert(entries.end(), kStaticColours.begin() + 10, kStaticColours.end());
    return entries;
}

} // namespace

HPALETTE CreatePalette(const LOGPALETTE* logical)
{
    if (!logical || logical->palNumEntries == 0)
        return nullptr;
    const PALETTEENTRY* first = logical->palPalEntry;
    return NewPalette(logical->palVersion, std::vector<PALETTEENTRY>(first, first + logical->palNumEntries));
}

HPALETTE DefaultPalette()
{
    static HPALETTE palette =
        NewPalette(0x300, std::vector<PALETTEENTRY>(kStaticColours.begin(), kStaticColours.end()), true);
    return palette;
}

HPALETTE CreateHalftonePalette(HDC dc) { return NewPalette(0x300, HalftoneEntries()); }

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* out)
{
    const PaletteObject* object = gdi_register::FindPalette(palette);
    if (!object)
        return 0;
    const UINT size = UINT(object->entries.size());
    if (!out)
        return size;
    if (start >= size)
        return 0;
    const UINT copied = std::min(count, size - start);
    std::copy_n(object->entries.begin() + start, copied, out);
    return copied;
}

WORD GetPaletteVersion(HPALETTE palette)
{
    const PaletteObject* object = gdi_register::FindPalette(palette);
    return object ? object->version : 0;
}

// ---- Icons ----------------------------------------------------------------------------------

namespace {

std::vector<QImage> DecodeIconFile(std::span<const std::uint8_t> bytes)
{
    std::vector<QImage> images;
    if (bytes.empty())
        return images;
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const int count = std::max(reader.imageCount(), 1);
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToNextImage())
            break;
        QImage image;
        if (reader.read(&image) && !image.isNull())
            images.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
    return images;
}

std::string IconKey(const char* name)
{
    if (!IS_INTRESOURCE(name))
        return name;
    std::string key = "#";
    key += std::to_string(reinterpret_cast<std::uintptr_t>(name));
    return key;
}

} // namespace

HICON LoadIconA(HINSTANCE instance, const char* name)
{
    if (!name)
        return nullptr;
    // Each icon is read once and shared by every caller, as the desktop shares them.
    static auto* loaded = new std::map<std::string, HICON>;
    const std::string key = IconKey(name);
    if (const auto found = loaded->find(key); found != loaded->end())
        return found->second;
    std::vector<QImage> images = DecodeIconFile(FindResourceBytes(ResourceKind::Icon, name));
    if (images.empty())
        return nullptr;
    auto* icon = new IconObject;
    icon->images = std::move(images);
    gdi_register::Add(icon, GdiKind::Icon);
    (*loaded)[key] = icon;
    return icon;
}

const QImage* IconImage(HICON icon, int size)
{
    const IconObject* object = gdi_register::FindIcon(icon);
    if (!object)
        return nullptr;
    const auto distance = [size](const QImage& image) { return std::abs(image.width() - size); };
    return &*std::min_element(object->images.begin(), object->images.end(),
                              [&](const QImage& a, const QImage& b) { return distance(a) < distance(b); });
}

// ---- Framework wrappers ---------------------------------------------------------------------

BOOL CGdiObject::Attach(HGDIOBJ object)
{
    if (!object || !Lookup(object))
        return FALSE;
    if (object != m_hObject)
        DeleteObject();
    m_hObject = object;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ object = m_hObject;
    m_hObject = nullptr;
    return object;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject)
        return FALSE;
    return ::DeleteObject(Detach());
}

int CPalette::GetEntryCount() const { return int(GetPaletteEntries(*this, 0, 0, nullptr)); }
