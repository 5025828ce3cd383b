// The compiled-in bitmaps, cursors and icons: present under the names the program asks for, and
// real files of the sizes and depths the program draws them at.
#include "platform/gdi.h"
#include "platform/resources.h"

#include <QByteArray>
#include <QImage>
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>

namespace {

std::uint32_t Read16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8;
}

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return Read16(bytes, at) | Read16(bytes, at + 2) << 16;
}

struct BitmapHeader {
    std::uint32_t fileSize, pixelOffset, infoSize;
    std::int32_t width, height;
    std::uint32_t bits, compression, coloursUsed;
};

BitmapHeader ReadBitmapHeader(std::span<const std::uint8_t> bytes)
{
    return {Read32(bytes, 2),
            Read32(bytes, 10),
            Read32(bytes, 14),
            static_cast<std::int32_t>(Read32(bytes, 18)),
            static_cast<std::int32_t>(Read32(bytes, 22)),
            Read16(bytes, 28),
            Read32(bytes, 30),
            Read32(bytes, 46)};
}

struct ExpectedBitmap {
    const char* name;
    int width, height, bits;
};

constexpr ExpectedBitmap kBitmaps[] = {
    // name            width height bits
    {"RACK", 600, 200, 8},       {"WHITE_NOTE_U", 20, 70, 4}, {"WHITE_NOTE_D", 20, 70, 4},
    {"BLACK_NOTE_U", 12, 45, 4}, {"BLACK_NOTE_D", 12, 45, 4}, {"RED_ON_U", 30, 12, 8},
    {"RED_ON_D", 30, 12, 8},     {"GREEN_ON_U", 30, 12, 8},   {"GREEN_ON_D", 30, 12, 8},
    {"ALL_OFF_U", 30, 12, 8},    {"ALL_OFF_D", 30, 12, 8},    {"NORMAL_U", 30, 12, 8},
    {"NORMAL_D", 30, 12, 8},     {"PROGRAM_U", 6, 15, 8},     {"PROGRAM_D", 6, 15, 8},
    {"YELLOW_ON", 9, 4, 8},      {"YELLOW_OFF", 9, 4, 8},     {"LED", 220, 15, 8},
    {"VOLUME_U", 5, 5, 8},       {"VOLUME_D", 5, 5, 8},
};

void ExpectBitmap(std::span<const std::uint8_t> bytes, const std::string& what, int width, int height,
                  int bits)
{
    SCOPED_TRACE(what);
    ASSERT_GT(bytes.size(), 54u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    const BitmapHeader header = ReadBitmapHeader(bytes);
    EXPECT_EQ(header.fileSize, bytes.size());
    EXPECT_EQ(header.infoSize, 40u);
    EXPECT_EQ(header.width, width);
    EXPECT_EQ(header.height, height); // positive: stored bottom-up
    EXPECT_EQ(header.bits, static_cast<std::uint32_t>(bits));
    EXPECT_EQ(header.compression, 0u);
    EXPECT_EQ(header.coloursUsed, 1u << bits);
    EXPECT_EQ(header.pixelOffset, 14 + 40 + 4 * header.coloursUsed);
    const std::size_t stride = (width * bits + 31) / 32 * 4;
    EXPECT_GE(bytes.size(), header.pixelOffset + stride * height);

    // Qt must read the file as well, since the drawing layer hands it to Qt.
    const QImage image = QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                                  static_cast<qsizetype>(bytes.size())),
                                          "BMP");
    EXPECT_EQ(image.width(), width);
    EXPECT_EQ(image.height(), height);
}

TEST(Resources, EveryNamedBitmapHasItsSizeAndDepth)
{
    for (const ExpectedBitmap& expected : kBitmaps)
        ExpectBitmap(FindResourceBytes(ResourceKind::Bitmap, expected.name), expected.name, expected.width,
                     expected.height, expected.bits);
    ExpectBitmap(FindResourceBytes(ResourceKind::Bitmap, MAKEINTRESOURCE(153)), "153", 16, 14, 8);
}

TEST(Resources, LedFieldIsUniformDarkGrey)
{
    const auto bytes = FindResourceBytes(ResourceKind::Bitmap, "LED");
    ASSERT_FALSE(bytes.empty());
    const BitmapHeader header = ReadBitmapHeader(bytes);
    const std::size_t stride = (header.width + 3) / 4 * 4;
    for (int y = 0; y < header.height; ++y) {
        for (int x = 0; x < header.width; ++x) {
            const std::size_t entry = 54 + 4 * bytes[header.pixelOffset + y * stride + x];
            ASSERT_EQ(bytes[entry + 0], 60) << x << "," << y; // blue
            ASSERT_EQ(bytes[entry + 1], 60) << x << "," << y; // green
            ASSERT_EQ(bytes[entry + 2], 60) << x << "," << y; // red
        }
    }
}

TEST(Resources, NamesAreFoundRegardlessOfCaseAndByNumber)
{
    const auto rack = FindResourceBytes(ResourceKind::Bitmap, "RACK");
    ASSERT_FALSE(rack.empty());
    EXPECT_EQ(FindResourceBytes(ResourceKind::Bitmap, "rack").data(), rack.data());
    EXPECT_EQ(FindResourceBytes(ResourceKind::Bitmap, "#153").data(),
              FindResourceBytes(ResourceKind::Bitmap, MAKEINTRESOURCE(153)).data());
    EXPECT_EQ(ResourceFileName(ResourceKind::Cursor, MAKEINTRESOURCE(137)), "137.cur");
    EXPECT_EQ(ResourceFileName(ResourceKind::Icon, MAKEINTRESOURCE(155)), "155.ico");
    EXPECT_EQ(ResourceFileName(ResourceKind::Bitmap, "Rack"), "RACK.bmp");
}

TEST(Resources, UnknownNamesFindNothing)
{
    EXPECT_TRUE(FindResourceBytes(ResourceKind::Bitmap, "NO_SUCH_BITMAP").empty());
    EXPECT_TRUE(FindResourceBytes(ResourceKind::Bitmap, MAKEINTRESOURCE(9999)).empty());
    // The right name under the wrong kind is not found either.
    EXPECT_TRUE(FindResourceBytes(ResourceKind::Cursor, "RACK").empty());
    EXPECT_TRUE(FindResourceBytes(ResourceKind::Bitmap, "../cursors/137").empty());
}

TEST(Resources, CursorsAreMonochrome32WithTheirHotSpots)
{
    struct Expected {
        int id, hotX, hotY;
    };
    for (const Expected& expected : {Expected{137, 4, 14}, Expected{138, 3, 4}, Expected{144, 3, 4}}) {
        SCOPED_TRACE(expected.id);
        const auto bytes = FindResourceBytes(ResourceKind::Cursor, MAKEINTRESOURCE(expected.id));
        ASSERT_GE(bytes.size(), 22u + 40u);
        EXPECT_EQ(Read16(bytes, 2), 2u); // a cursor file
        EXPECT_EQ(Read16(bytes, 4), 1u); // one image
        EXPECT_EQ(bytes[6], 32);
        EXPECT_EQ(bytes[7], 32);
        EXPECT_EQ(Read16(bytes, 10), static_cast<std::uint32_t>(expected.hotX));
        EXPECT_EQ(Read16(bytes, 12), static_cast<std::uint32_t>(expected.hotY));
        const std::uint32_t image = Read32(bytes, 18);
        ASSERT_EQ(image + Read32(bytes, 14), bytes.size());
        EXPECT_EQ(Read32(bytes, image + 8), 64u); // colour and mask stacked
        EXPECT_EQ(Read16(bytes, image + 14), 1u); // one bit per pixel
    }
}

TEST(Resources, IconsHoldTheirSizes)
{
    struct Expected {
        int id;
        std::initializer_list<int> sizes;
    };
    for (const Expected& expected : {Expected{155, {32}}, Expected{128, {32, 16}}}) {
        SCOPED_TRACE(expected.id);
        const auto bytes = FindResourceBytes(ResourceKind::Icon, MAKEINTRESOURCE(expected.id));
        ASSERT_GE(bytes.size(), 6u);
        EXPECT_EQ(Read16(bytes, 2), 1u); // an icon file
        ASSERT_EQ(Read16(bytes, 4), expected.sizes.size());
        std::size_t entry = 6;
        for (int size : expected.sizes) {
            EXPECT_EQ(bytes[entry], size);
            EXPECT_EQ(bytes[entry + 1], size);
            EXPECT_LE(Read32(bytes, entry + 12) + Read32(bytes, entry + 8), bytes.size());
            entry += 16;
        }
    }
}

} // namespace
