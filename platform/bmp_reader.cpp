#include "platform/bmp_reader.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr DWORD kUncompressed = 0; // BI_RGB

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint16_t(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) | (std::uint32_t(bytes[at + 1]) << 8) |
           (std::uint32_t(bytes[at + 2]) << 16) | (std::uint32_t(bytes[at + 3]) << 24);
}

// The first 40 bytes of an info header; larger headers only add fields we do not use.
BITMAPINFOHEADER ReadInfoHeader(std::span<const std::uint8_t> bytes)
{
    BITMAPINFOHEADER h{};
    h.biSize = ReadU32(bytes, 0);
    h.biWidth = LONG(ReadU32(bytes, 4));
    h.biHeight = LONG(ReadU32(bytes, 8));
    h.biPlanes = ReadU16(bytes, 12);
    h.biBitCount = ReadU16(bytes, 14);
    h.biCompression = ReadU32(bytes, 16);
    h.biSizeImage = ReadU32(bytes, 20);
    h.biXPelsPerMeter = LONG(ReadU32(bytes, 24));
    h.biYPelsPerMeter = LONG(ReadU32(bytes, 28));
    h.biClrUsed = ReadU32(bytes, 32);
    h.biClrImportant = ReadU32(bytes, 36);
    return h;
}

bool IsSupportedDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

// The palette index of pixel x in a row of 1, 4 or 8 bits per pixel; the leftmost pixel sits
// in the high bits of its byte.
int IndexAt(const std::uint8_t* row, int x, int bits)
{
    switch (bits) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 0x1;
    case 4:
        return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
    default:
        return row[x];
    }
}

QRgb ToRgb(const RGBQUAD& c) { return qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue); }

void DecodeIndexedRow(const std::uint8_t* row, QRgb* out, int width, int bits, std::span<const QRgb> lookup)
{
    for (int x = 0; x < width; ++x)
        out[x] = lookup[std::size_t(IndexAt(row, x, bits))];
}

void DecodeTrueColourRow(const std::uint8_t* row, QRgb* out, int width, int bytesPerPixel)
{
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = row + std::size_t(x) * bytesPerPixel;
        out[x] = qRgb(p[2], p[1], p[0]);
    }
}

} // namespace

std::optional<DibLayout> CheckDibHeader(const BITMAPINFOHEADER& header)
{
    if (header.biPlanes != 1 || header.biCompression != kUncompressed || !IsSupportedDepth(header.biBitCount))
        return std::nullopt;
    const std::int64_t width = header.biWidth;
    const std::int64_t height = header.biHeight < 0 ? -std::int64_t(header.biHeight) : header.biHeight;
    if (width < 1 || width > kMaxDibSide || height < 1 || height > kMaxDibSide ||
        width * height > kMaxDibPixels)
        return std::nullopt;

    DibLayout layout;
    layout.width = int(width);
    layout.height = int(height);
    layout.topDown = header.biHeight < 0;
    layout.bitCount = header.biBitCount;
    if (layout.bitCount <= 8) {
        const std::uint32_t limit = 1u << layout.bitCount;
        if (header.biClrUsed > limit)
            return std::nullopt;
        layout.colorCount = header.biClrUsed ? int(header.biClrUsed) : int(limit);
    }
    layout.stride = std::size_t((width * layout.bitCount + 31) / 32 * 4);
    layout.imageBytes = layout.stride * std::size_t(height);
    return layout;
}

QImage DecodeDibPixels(const DibLayout& layout, std::span<const RGBQUAD> colors,
                       std::span<const std::uint8_t> bits)
{
    if (bits.size() < layout.imageBytes)
        return {};
    QImage image(layout.width, layout.height, QImage::Format_RGB32);
    if (image.isNull())
        return {};

    // A full 256-entry lookup lets any stored index be used without a range check per pixel.
    std::array<QRgb, 256> lookup;
    lookup.fill(qRgb(0, 0, 0));
    const std::size_t known =
        std::min<std::size_t>({colors.size(), std::size_t(layout.colorCount), lookup.size()});
    for (std::size_t i = 0; i < known; ++i)
        lookup[i] = ToRgb(colors[i]);

    for (int y = 0; y < layout.height; ++y) {
        const int stored = layout.topDown ? y : layout.height - 1 - y;
        const std::uint8_t* row = bits.data() + std::size_t(stored) * layout.stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (layout.bitCount <= 8)
            DecodeIndexedRow(row, out, layout.width, layout.bitCount, lookup);
        else
            DecodeTrueColourRow(row, out, layout.width, layout.bitCount / 8);
    }
    return image;
}

std::optional<BmpImage> ReadBmp(std::span<const std::uint8_t> file)
{
    if (file.size() < kFileHeaderSize + kInfoHeaderSize || file[0] != 'B' || file[1] != 'M')
        return std::nullopt;
    const std::uint64_t pixelOffset = ReadU32(file, 10);
    const std::uint64_t headerSize = ReadU32(file, kFileHeaderSize);
    if (headerSize < kInfoHeaderSize || kFileHeaderSize + headerSize > file.size())
        return std::nullopt;

    BITMAPINFOHEADER header = ReadInfoHeader(file.subspan(kFileHeaderSize, kInfoHeaderSize));
    const std::optional<DibLayout> layout = CheckDibHeader(header);
    if (!layout)
        return std::nullopt;

    // True-colour files may carry an advisory colour table; it must fit, but we do not keep it.
    const std::uint64_t tableEntries =
        layout->bitCount <= 8 ? std::uint64_t(layout->colorCount) : header.biClrUsed;
    if (layout->bitCount > 8 && tableEntries > 256)
        return std::nullopt;
    const std::uint64_t tableOffset = kFileHeaderSize + headerSize;
    const std::uint64_t tableEnd = tableOffset + tableEntries * sizeof(RGBQUAD);
    if (pixelOffset < tableEnd || pixelOffset + layout->imageBytes > file.size())
        return std::nullopt;

    BmpImage bmp;
    bmp.layout = *layout;
    for (int i = 0; i < layout->colorCount; ++i) {
        const std::size_t at = std::size_t(tableOffset) + std::size_t(i) * sizeof(RGBQUAD);
        bmp.colors.push_back(RGBQUAD{file[at], file[at + 1], file[at + 2], file[at + 3]});
    }
    const auto pixels = file.subspan(std::size_t(pixelOffset), layout->imageBytes);
    bmp.pixels.assign(pixels.begin(), pixels.end());
    bmp.image = DecodeDibPixels(*layout, bmp.colors, bmp.pixels);
    if (bmp.image.isNull())
        return std::nullopt;

    header.biSize = kInfoHeaderSize;
    header.biSizeImage = DWORD(layout->imageBytes);
    header.biClrUsed = DWORD(layout->colorCount);
    header.biClrImportant = std::min(header.biClrImportant, header.biClrUsed);
    bmp.header = header;
    return bmp;
}
