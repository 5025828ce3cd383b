// The BMP reader: what it decodes, and that damaged or hostile files are refused or come out
// self-consistent without any read outside the bytes given.

#include "platform/bmp_reader.h"
#include "platform/resources.h"
#include "tests/bmp_builder.h"

#include <gtest/gtest.h>

#include <random>

namespace {

QRgb Rgb(const RGBQUAD& c) { return qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue); }

BmpBuilder Indexed(int width, int height, int bits)
{
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bits = bits;
    b.colors = DistinctColors(1 << bits);
    b.pixel = [bits](int x, int y) { return std::uint32_t(x * 3 + y * 5) % (1u << bits); };
    return b;
}

// Whatever the reader accepts must describe itself truthfully.
void ExpectConsistent(const BmpImage& bmp)
{
    const DibLayout& l = bmp.layout;
    EXPECT_EQ(bmp.image.width(), l.width);
    EXPECT_EQ(bmp.image.height(), l.height);
    EXPECT_EQ(bmp.image.format(), QImage::Format_RGB32);
    EXPECT_EQ(bmp.pixels.size(), l.stride * std::size_t(l.height));
    EXPECT_EQ(l.stride % 4, 0u);
    EXPECT_EQ(bmp.header.biWidth, l.width);
    EXPECT_EQ(std::abs(bmp.header.biHeight), l.height);
    EXPECT_EQ(bmp.header.biSizeImage, bmp.pixels.size());
    EXPECT_EQ(bmp.colors.size(), std::size_t(l.colorCount));
    if (l.bitCount <= 8)
        EXPECT_LE(bmp.colors.size(), std::size_t(1) << l.bitCount);
    else
        EXPECT_TRUE(bmp.colors.empty());
}

void ExpectRejectedOrConsistent(std::span<const std::uint8_t> bytes)
{
    if (const auto bmp = ReadBmp(bytes))
        ExpectConsistent(*bmp);
}

void ExpectSurvivesDamage(const std::vector<std::uint8_t>& file, std::size_t truncationStep)
{
    for (std::size_t length = 0; length < file.size(); length += (length < 1200 ? 1 : truncationStep))
        EXPECT_FALSE(ReadBmp(std::span(file).first(length))) << "truncated to " << length;
    for (std::size_t i = 0; i < 54 && i < file.size(); ++i) {
        std::vector<std::uint8_t> flipped = file;
        flipped[i] ^= 0xFF;
        ExpectRejectedOrConsistent(flipped);
    }
}

} // namespace

TEST(BmpReader, DecodesIndexedImagesOfEveryDepthBothRowOrders)
{
    for (int bits : {1, 4, 8}) {
        for (bool topDown : {false, true}) {
            BmpBuilder b = Indexed(7, 3, bits); // odd width: rows need padding and partial bytes
            b.topDown = topDown;
            const auto bmp = ReadBmp(b.Build());
            ASSERT_TRUE(bmp) << bits << " bits";
            ExpectConsistent(*bmp);
            EXPECT_EQ(bmp->layout.colorCount, 1 << bits);
            EXPECT_EQ(bmp->header.biBitCount, bits);
            EXPECT_EQ(bmp->header.biHeight, topDown ? -3 : 3);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 7; ++x)
                    ASSERT_EQ(bmp->image.pixel(x, y), Rgb(b.colors[b.pixel(x, y)]))
                        << bits << " bits " << x << "," << y;
            // The stored rows are kept byte for byte, in the file's order.
            const std::vector<std::uint8_t> file = b.Build();
            EXPECT_TRUE(std::equal(bmp->pixels.begin(), bmp->pixels.end(), file.begin() + b.PixelOffset()));
        }
    }
}

TEST(BmpReader, DecodesTrueColourWithoutColourTable)
{
    for (int bits : {24, 32}) {
        BmpBuilder b;
        b.width = 3; // 9 bytes of 24-bit pixels pad to 12
        b.height = 2;
        b.bits = bits;
        b.pixel = [](int x, int y) { return std::uint32_t(0x102030 * (x + 1) + 0x050000 * y); };
        const auto bmp = ReadBmp(b.Build());
        ASSERT_TRUE(bmp);
        ExpectConsistent(*bmp);
        EXPECT_EQ(bmp->layout.stride, bits == 24 ? 12u : 12u);
        EXPECT_EQ(bmp->header.biClrUsed, 0u);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(bmp->image.pixel(x, y), 0xFF000000u | b.pixel(x, y));
    }
}

TEST(BmpReader, AcceptsLargerHeadersAndShortColourTables)
{
    BmpBuilder b = Indexed(4, 2, 8);
    b.headerSize = 124;
    b.colors.resize(16); // biClrUsed 16: only 16 entries follow the header
    const auto bmp = ReadBmp(b.Build());
    ASSERT_TRUE(bmp);
    ExpectConsistent(*bmp);
    EXPECT_EQ(bmp->header.biSize, 40u);
    EXPECT_EQ(bmp->colors.size(), 16u);
}

TEST(BmpReader, IndicesBeyondTheColourTableComeOutBlack)
{
    BmpBuilder b = Indexed(2, 1, 8);
    b.colors.resize(4);
    b.pixel = [](int x, int) { return x == 0 ? 3u : 200u; };
    const auto bmp = ReadBmp(b.Build());
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->image.pixel(0, 0), Rgb(b.colors[3]));
    EXPECT_EQ(bmp->image.pixel(1, 0), qRgb(0, 0, 0));
}

TEST(BmpReader, RefusesImpossibleHeaders)
{
    const std::vector<std::uint8_t> good = Indexed(4, 4, 8).Build();
    const auto patched = [&](std::size_t at, std::uint32_t value, int bytes = 4) {
        std::vector<std::uint8_t> file = good;
        for (int i = 0; i < bytes; ++i)
            file[at + i] = std::uint8_t(value >> (8 * i));
        return file;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
    };
    const Case cases[] = {
        {"not BM", patched(0, 'X', 1)},
        {"pixels past the end", patched(10, 1078 + 1)},
        {"pixels over the colour table", patched(10, 1000)},
        {"offset near 4 GiB", patched(10, 0xFFFFFFF0)},
        {"header size below 40", patched(14, 12)},
        {"header size past the end", patched(14, 0xFFFFFFF0)},
        {"zero width", patched(18, 0)},
        {"negative width", patched(18, 0xFFFFFFFC)},
        {"huge width", patched(18, 16385)},
        {"zero height", patched(22, 0)},
        {"huge height", patched(22, 100000)},
        {"most negative height", patched(22, 0x80000000)},
        {"two planes", patched(26, 2, 2)},
        {"16 bits", patched(28, 16, 2)},
        {"run-length compressed", patched(30, 1)},
        {"257 colours for 8 bits", patched(46, 257)},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(ReadBmp(c.file)) << c.what;

    BmpBuilder four = Indexed(4, 4, 4);
    four.colors = DistinctColors(17);
    EXPECT_FALSE(ReadBmp(four.Build())) << "17 colours for 4 bits";
    BmpBuilder trueColour;
    trueColour.bits = 24;
    trueColour.colors = DistinctColors(257);
    EXPECT_FALSE(ReadBmp(trueColour.Build())) << "advisory table of 257 entries";
}

TEST(BmpReader, SizeLimitsHoldBeforeAnyPixelIsRead)
{
    const auto header = [](LONG width, LONG height, WORD bits) {
        return BITMAPINFOHEADER{40, width, height, 1, bits, 0, 0, 0, 0, 0, 0};
    };
    EXPECT_TRUE(CheckDibHeader(header(16384, 1, 8)));
    EXPECT_TRUE(CheckDibHeader(header(1, -16384, 8)));
    EXPECT_TRUE(CheckDibHeader(header(4096, 4096, 32)));
    EXPECT_FALSE(CheckDibHeader(header(16385, 1, 8)));
    EXPECT_FALSE(CheckDibHeader(header(1, -16385, 8)));
    EXPECT_FALSE(CheckDibHeader(header(16384, 16384, 1))) << "a small file that would unpack to 1 GiB";
    const auto widest = CheckDibHeader(header(16384, 16, 32));
    ASSERT_TRUE(widest);
    EXPECT_EQ(widest->stride, 65536u);
    EXPECT_EQ(widest->imageBytes, 65536u * 16);
}

TEST(BmpReader, SurvivesTruncationAndFlippedHeaderBytes)
{
    for (int bits : {4, 8}) {
        const std::vector<std::uint8_t> file = Indexed(5, 3, bits).Build();
        ExpectSurvivesDamage(file, 1);
    }
    BmpBuilder rgb;
    rgb.width = 5;
    rgb.height = 3;
    rgb.bits = 24;
    ExpectSurvivesDamage(rgb.Build(), 1);
}

TEST(BmpReader, SurvivesRandomDamage)
{
    const std::vector<std::uint8_t> file = Indexed(9, 5, 4).Build();
    std::mt19937 random(20240601);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> damaged = file;
        const int edits = 1 + int(random() % 4);
        for (int e = 0; e < edits; ++e)
            damaged[random() % 120] = std::uint8_t(random()); // the headers and colour table
        damaged.resize(random() % 4 == 0 ? random() % damaged.size() : damaged.size());
        ExpectRejectedOrConsistent(damaged);
    }
}

TEST(BmpReader, ProgramBitmapsReadAndSurviveDamage)
{
    const char* names[] = {"RACK",         "LED",        "WHITE_NOTE_U", "WHITE_NOTE_D", "BLACK_NOTE_U",
                           "BLACK_NOTE_D", "VOLUME_U",   "VOLUME_D",     "RED_ON_U",     "RED_ON_D",
                           "GREEN_ON_U",   "GREEN_ON_D", "ALL_OFF_U",    "ALL_OFF_D",    "NORMAL_U",
                           "NORMAL_D",     "PROGRAM_U",  "PROGRAM_D",    "YELLOW_ON",    "YELLOW_OFF"};
    int found = 0;
    for (const char* name : names) {
        const auto bytes = FindResourceBytes(ResourceKind::Bitmap, name);
        if (bytes.empty())
            continue;
        ++found;
        const std::vector<std::uint8_t> file(bytes.begin(), bytes.end());
        const auto bmp = ReadBmp(file);
        ASSERT_TRUE(bmp) << name;
        ExpectConsistent(*bmp);
        EXPECT_TRUE(bmp->layout.bitCount == 4 || bmp->layout.bitCount == 8) << name;
        ExpectSurvivesDamage(file, 997);
    }
    if (found == 0)
        GTEST_SKIP() << "no program bitmaps built in";
}
