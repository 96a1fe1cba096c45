// Reading pointer files into Qt cursors.
#include "platform/qt/cursor_file.h"

#include <QBuffer>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace ssr {
namespace {

// Writes .cur files the long way, byte by byte, independently of the reader.
void Put16(QByteArray& out, std::uint32_t v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(QByteArray& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct Entry {
    int width;
    int height;
    QPoint hotspot;
    QByteArray data;
};

QByteArray Directory(const std::vector<Entry>& entries, std::uint16_t type = 2) {
    QByteArray file;
    Put16(file, 0);
    Put16(file, type);
    Put16(file, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(entries.size());
    for (const Entry& e : entries) {
        file.append(static_cast<char>(e.width == 256 ? 0 : e.width));
        file.append(static_cast<char>(e.height == 256 ? 0 : e.height));
        file.append('\0');
        file.append('\0');
        Put16(file, static_cast<std::uint32_t>(e.hotspot.x()));
        Put16(file, static_cast<std::uint32_t>(e.hotspot.y()));
        Put32(file, static_cast<std::uint32_t>(e.data.size()));
        Put32(file, offset);
        offset += static_cast<std::uint32_t>(e.data.size());
    }
    for (const Entry& e : entries) file.append(e.data);
    return file;
}

// The test pattern: the left column is see-through, every other pixel has a
// colour that depends on its place, so a flipped or shifted row shows.
QRgb PatternColour(int x, int y, int bits) {
    if (bits <= 8) {
        const int colours = 1 << bits;
        const int index = (x + 2 * y) % colours;
        return qRgb(index * 255 / (colours - 1), 40, 255 - index * 255 / (colours - 1));
    }
    return qRgb((x * 8) & 0xFF, (y * 8) & 0xFF, 77);
}
bool PatternTransparent(int x, int /*y*/) { return x == 0; }

QByteArray Bitmap(int bits, int width, int height, bool alpha_channel = true, std::uint32_t compression = 0) {
    QByteArray out;
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height * 2));
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(bits));
    Put32(out, compression);
    for (int i = 0; i < 5; ++i) Put32(out, 0);
    if (bits <= 8) {
        for (int i = 0; i < (1 << bits); ++i) {
            const int colours = 1 << bits;
            out.append(static_cast<char>(255 - i * 255 / (colours - 1)));
            out.append(static_cast<char>(40));
            out.append(static_cast<char>(i * 255 / (colours - 1)));
            out.append('\0');
        }
    }
    const int stride = ((width * bits + 31) / 32) * 4;
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            const QRgb c = PatternColour(x, y, bits);
            if (bits <= 8) {
                const int colours = 1 << bits;
                const int index = (x + 2 * y) % colours;
                const int per_byte = 8 / bits;
                const int shift = 8 - bits * (x % per_byte + 1);
                row[x / per_byte] = static_cast<char>(row[x / per_byte] | (index << shift));
            } else {
                const int at = x * (bits / 8);
                row[at] = static_cast<char>(qBlue(c));
                row[at + 1] = static_cast<char>(qGreen(c));
                row[at + 2] = static_cast<char>(qRed(c));
                if (bits == 32)
                    row[at + 3] = static_cast<char>(alpha_channel && !PatternTransparent(x, y) ? 255 : 0);
            }
        }
        out.append(row);
    }
    const int mask_stride = ((width + 31) / 32) * 4;
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(mask_stride, '\0');
        for (int x = 0; x < width; ++x)
            if (PatternTransparent(x, y)) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        out.append(row);
    }
    return out;
}

QByteArray Png(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, PatternTransparent(x, y) ? qRgba(0, 0, 0, 0) : PatternColour(x, y, 32));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct DepthCase {
    std::string name;
    int bits;  // 0 for a PNG entry
    int width;
    int height;
    QPoint hotspot;
};

class CursorDepths : public ::testing::TestWithParam<DepthCase> {};

TEST_P(CursorDepths, ReadsPixelsMaskAndHotspot) {
    const DepthCase& c = GetParam();
    const QByteArray data = c.bits == 0 ? Png(c.width, c.height) : Bitmap(c.bits, c.width, c.height);
    const auto cursor = DecodeCursorFile(Directory({{c.width, c.height, c.hotspot, data}}));
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->image.size(), QSize(c.width, c.height));
    EXPECT_EQ(cursor->hotspot, c.hotspot);
    const int pattern_bits = c.bits == 0 ? 32 : c.bits;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const QRgb pixel = cursor->image.pixel(x, y);
            if (PatternTransparent(x, y)) {
                ASSERT_EQ(qAlpha(pixel), 0) << x << "," << y;
            } else {
                ASSERT_EQ(qAlpha(pixel), 255) << x << "," << y;
                ASSERT_EQ(pixel & 0xFFFFFFU, PatternColour(x, y, pattern_bits) & 0xFFFFFFU) << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllDepths, CursorDepths,
    ::testing::Values(DepthCase{"Monochrome", 1, 32, 32, {5, 1}}, DepthCase{"SixteenColours", 4, 32, 32, {0, 0}},
                      DepthCase{"Palette256", 8, 32, 32, {31, 31}}, DepthCase{"TrueColour", 24, 32, 32, {10, 3}},
                      DepthCase{"TrueColourOddWidthPadsRows", 24, 13, 7, {2, 2}},
                      DepthCase{"Alpha", 32, 48, 48, {20, 4}}, DepthCase{"PngCompressed", 0, 64, 64, {9, 9}},
                      DepthCase{"PngAt256", 0, 256, 256, {128, 200}}),
    [](const auto& info) { return info.param.name; });

TEST(CursorFile, ThirtyTwoBitWithoutAlphaTakesTheMask) {
    const auto cursor = DecodeCursorFile(Directory({{16, 16, {1, 1}, Bitmap(32, 16, 16, false)}}));
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(qAlpha(cursor->image.pixel(0, 5)), 0);
    EXPECT_EQ(qAlpha(cursor->image.pixel(3, 5)), 255);
}

TEST(CursorFile, PicksTheEntryNearestThirtyTwoPixels) {
    const auto cursor = DecodeCursorFile(
        Directory({{16, 16, {1, 2}, Bitmap(24, 16, 16)}, {32, 32, {3, 4}, Bitmap(24, 32, 32)},
                   {64, 64, {5, 6}, Bitmap(24, 64, 64)}}));
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->image.width(), 32);
    EXPECT_EQ(cursor->hotspot, QPoint(3, 4));
}

TEST(CursorFile, ReadsTheShippedHandPointer) {
    QFile file(QStringLiteral(SSR_SOURCE_DIR "/assets/HAND-M.CUR"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto cursor = DecodeCursorFile(file.readAll());
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->image.size(), QSize(32, 32));
    EXPECT_TRUE(QRect(QPoint(0, 0), cursor->image.size()).contains(cursor->hotspot));
}

struct JunkCase {
    std::string name;
    QByteArray bytes;
};

class CursorJunk : public ::testing::TestWithParam<JunkCase> {};

TEST_P(CursorJunk, IsRejected) { EXPECT_FALSE(DecodeCursorFile(GetParam().bytes).has_value()); }

QByteArray Truncated(QByteArray bytes, int drop) {
    bytes.chop(drop);
    return bytes;
}

QByteArray WithHeaderField(QByteArray bytes, int field_offset, std::uint16_t value) {
    const int at = 6 + 16 + field_offset;  // inside the first bitmap's header
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
    return bytes;
}

const QByteArray kGood = Directory({{32, 32, {1, 1}, Bitmap(24, 32, 32)}});

INSTANTIATE_TEST_SUITE_P(
    Junk, CursorJunk,
    ::testing::Values(
        JunkCase{"Empty", QByteArray()}, JunkCase{"Text", QByteArray("not a cursor at all, just text")},
        JunkCase{"IconNotCursor", Directory({{32, 32, {1, 1}, Bitmap(24, 32, 32)}}, 1)},
        JunkCase{"NoEntries", Directory({})}, JunkCase{"CutInTheDirectory", kGood.left(12)},
        JunkCase{"EntryPastTheEnd", Truncated(kGood, 1)},
        JunkCase{"SixteenBitDepth", WithHeaderField(kGood, 14, 16)},
        JunkCase{"RunLengthCompressed", WithHeaderField(kGood, 16, 1)},
        JunkCase{"TwoPlanes", WithHeaderField(kGood, 12, 2)},
        JunkCase{"OddDoubledHeight", WithHeaderField(kGood, 8, 63)},
        JunkCase{"ZeroWidth", WithHeaderField(kGood, 4, 0)},
        JunkCase{"HotspotOutside", Directory({{32, 32, {40, 1}, Bitmap(24, 32, 32)}})},
        JunkCase{"BrokenPng", Directory({{32, 32, {1, 1}, Png(32, 32).left(40)}})},
        JunkCase{"MaskMissing", Directory({{32, 32, {1, 1}, Bitmap(24, 32, 32).left(40 + 32 * 96)}})}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ssr
