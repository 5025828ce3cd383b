#pragma once
// A careful reader of BMP files and of the packed device-independent bitmaps inside them.
// Every size and offset is checked against the bytes actually present before it is used, so a
// truncated or hostile file is refused instead of being read past its end.

#include "platform/gdi.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The limits we accept: far beyond any picture of the program, small enough that the 32-bit
// copy of an accepted bitmap can always be allocated.
constexpr int kMaxDibSide = 16384;
constexpr std::int64_t kMaxDibPixels = std::int64_t(4096) * 4096;

// The shape of a device-independent bitmap as its header describes it, once checked.
struct DibLayout {
    int width = 0;
    int height = 0;         // always positive
    bool topDown = false;   // rows stored from the top (negative height in the header)
    int bitCount = 0;       // 1, 4, 8, 24 or 32
    int colorCount = 0;     // colour-table entries; 0 above 8 bits per pixel
    std::size_t stride = 0; // bytes per stored row, padded to a multiple of 4
    std::size_t imageBytes = 0;
};

// Checks an uncompressed header: plane count 1, a supported depth, sides from 1 to
// kMaxDibSide, at most kMaxDibPixels and a colour count of at most 2^bits. Nothing else.
std::optional<DibLayout> CheckDibHeader(const BITMAPINFOHEADER& header);

// The 32-bit picture of packed pixel rows. `bits` must hold layout.imageBytes bytes; indices
// beyond the colour table come out black.
QImage DecodeDibPixels(const DibLayout& layout, std::span<const RGBQUAD> colors,
                       std::span<const std::uint8_t> bits);

// A BMP file taken apart: the header as a plain 40-byte BITMAPINFOHEADER (biSizeImage and
// biClrUsed filled in), the colour table, the pixel rows exactly as stored and the picture.
struct BmpImage {
    BITMAPINFOHEADER header{};
    DibLayout layout;
    std::vector<RGBQUAD> colors;
    std::vector<std::uint8_t> pixels;
    QImage image; // Format_RGB32, top row first
};

std::optional<BmpImage> ReadBmp(std::span<const std::uint8_t> file);
