// The drawn product icon's images.
#include "application/product_icon.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

namespace ssr {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The window gets the drawing, pixel for pixel, without drawing at start.
TEST(ProductIcon, TheEmbeddedFileReadsBackAsTheDrawing) {
    const std::vector<IconImage> drawn = DrawProductIcon();
    const std::vector<IconImage> carried = ProductIcon();
    ASSERT_EQ(carried.size(), drawn.size());
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        EXPECT_EQ(carried[i].size, drawn[i].size);
        EXPECT_EQ(carried[i].bits_per_pixel, drawn[i].bits_per_pixel);
        EXPECT_TRUE(carried[i] == drawn[i]) << "image " << i << " differs from the drawing";
    }
}

// The window's first image comes without reading the three it does not show yet.
TEST(ProductIcon, AskedForTheFirstImageReadsOnlyThat) {
    const std::vector<IconImage> first = ProductIcon(1);
    ASSERT_EQ(first.size(), 1U);
    EXPECT_TRUE(first.front() == DrawProductIconImage(kIconSizes[0]));
}

void Put32(Bytes& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
// Where the n-th image's bitmap header starts.
std::size_t ImageAt(const Bytes& bytes, std::size_t n) { return Get32(bytes, 6 + 16 * n + 12); }

struct Damage {
    std::string name;
    std::function<void(Bytes&)> apply;
};
void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class DamagedIconFile : public ::testing::TestWithParam<Damage> {};

// A damaged file gives no images at all rather than wrong pixels or a read past its end.
TEST_P(DamagedIconFile, GivesNoImages) {
    const auto file = ProductIconFile();
    Bytes bytes(file.begin(), file.end());
    GetParam().apply(bytes);
    EXPECT_TRUE(ReadIconFile(bytes).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DamagedIconFile,
    ::testing::Values(
        Damage{"Empty", [](Bytes& b) { b.clear(); }},
        Damage{"CursorType", [](Bytes& b) { b[2] = 2; }},
        Damage{"NoImages", [](Bytes& b) { b[4] = 0; }},
        Damage{"DirectoryCutShort", [](Bytes& b) { b.resize(6 + 16 * 3); }},
        Damage{"LastImageCutShort", [](Bytes& b) { b.pop_back(); }},
        Damage{"OffsetPastTheEnd", [](Bytes& b) { Put32(b, 6 + 12, static_cast<std::uint32_t>(b.size())); }},
        Damage{"LengthPastTheEnd", [](Bytes& b) { Put32(b, 6 + 8, 0xFFFFFFF0U); }},
        Damage{"WidthOtherThanTheDirectorys", [](Bytes& b) { Put32(b, ImageAt(b, 1) + 4, 64); }},
        Damage{"HeightWithoutTheMask", [](Bytes& b) { Put32(b, ImageAt(b, 1) + 8, 48); }},
        Damage{"EightBitPixels", [](Bytes& b) { b[ImageAt(b, 2) + 14] = 8; }},
        Damage{"Compressed", [](Bytes& b) { Put32(b, ImageAt(b, 3) + 16, 1); }},
        Damage{"HeaderLongerThanTheImage", [](Bytes& b) { Put32(b, ImageAt(b, 0), 0x7FFFFFFF); }}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ssr
