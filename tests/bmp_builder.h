#pragma once
// Writes small BMP files for tests: 1, 4, 8, 24 or 32 bits per pixel, bottom-up or top-down,
// with the info header padded to any size.

#include "platform/gdi.h"

#include <cstdint>
#include <functional>
#include <vector>

struct BmpBuilder {
    int width = 1;
    int height = 1;
    int bits = 8;
    bool topDown = false;
    std::uint32_t headerSize = 40;
    std::vector<RGBQUAD> colors; // written as given; biClrUsed is their count
    // The palette index (up to 8 bits) or 0xRRGGBB colour of pixel (x, y), y from the top.
    std::function<std::uint32_t(int x, int y)> pixel = [](int, int) { return 0u; };

    static void Put16(std::vector<std::uint8_t>& out, std::uint32_t v)
    {
        out.push_back(std::uint8_t(v));
        out.push_back(std::uint8_t(v >> 8));
    }
    static void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
    {
        Put16(out, v & 0xFFFF);
        Put16(out, v >> 16);
    }

    int Stride() const { return (width * bits + 31) / 32 * 4; }
    std::uint32_t PixelOffset() const { return 14 + headerSize + std::uint32_t(colors.size()) * 4; }

    std::vector<std::uint8_t> Row(int y) const
    {
        std::vector<std::uint8_t> row(std::size_t(Stride()), 0);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = pixel(x, y);
            if (bits == 24 || bits == 32) {
                const std::size_t at = std::size_t(x) * (bits / 8);
                row[at] = std::uint8_t(v);
                row[at + 1] = std::uint8_t(v >> 8);
                row[at + 2] = std::uint8_t(v >> 16);
            } else {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                row[std::size_t(x / perByte)] |= std::uint8_t((v & ((1u << bits) - 1)) << shift);
            }
        }
        return row;
    }

    std::vector<std::uint8_t> Build() const
    {
        std::vector<std::uint8_t> out{'B', 'M'};
        const std::uint32_t fileSize = PixelOffset() + std::uint32_t(Stride() * height);
        Put32(out, fileSize);
        Put32(out, 0);
        Put32(out, PixelOffset());
        Put32(out, headerSize);
        Put32(out, std::uint32_t(width));
        Put32(out, std::uint32_t(topDown ? -height : height));
        Put16(out, 1);
        Put16(out, std::uint32_t(bits));
        Put32(out, 0);
        Put32(out, std::uint32_t(Stride() * height));
        Put32(out, 2835);
        Put32(out, 2835);
        Put32(out, std::uint32_t(colors.size()));
        Put32(out, 0);
        out.resize(14 + headerSize, 0);
        for (const RGBQUAD& c : colors)
            out.insert(out.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed, c.rgbReserved});
        for (int i = 0; i < height; ++i) {
            const std::vector<std::uint8_t> row = Row(topDown ? i : height - 1 - i);
            out.insert(out.end(), row.begin(), row.end());
        }
        return out;
    }
};

// A colour table whose every entry differs in red, green and blue, so swapped or shifted
// channels show.
inline std::vector<RGBQUAD> DistinctColors(int count)
{
    std::vector<RGBQUAD> colors;
    for (int i = 0; i < count; ++i)
        colors.push_back(RGBQUAD{BYTE(i), BYTE(255 - i), BYTE((i * 37 + 11) & 0xFF), 0});
    return colors;
}
