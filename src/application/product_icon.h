#pragma once
// The product icon, drawn by our own code: a list page with a broom sweeping
// a stale row away. Four images, as the window gets them at start-up.
//
// Drawing takes tens of milliseconds, so the program does not draw at start:
// the build writes the drawing to assets/product.ico (the artwork tool, whose
// check keeps the file equal to the drawing) and embeds that file, and
// ProductIcon() reads the images back from it.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

namespace ssr {

struct IconImage {
    int size = 0;                     // width and height in pixels
    int bits_per_pixel = 32;          // 24 for the 32x32 image, 32 for the others
    std::vector<std::uint32_t> argb;  // row-major, top row first, 0xAARRGGBB
    friend bool operator==(const IconImage&, const IconImage&) = default;
};

// The sizes and colour depths of the product icon's images.
inline constexpr int kIconSizes[4] = {32, 48, 128, 256};
inline constexpr std::size_t kIconImageCount = std::size(kIconSizes);

[[nodiscard]] IconImage DrawProductIconImage(int size);
// All four images: 32x32 at 24 bits, 48, 128 and 256 at 32 bits.
[[nodiscard]] std::vector<IconImage> DrawProductIcon();

// The four images as the program carries them, read from the embedded icon
// file at each call; the same pixels as DrawProductIcon(). Not kept: the
// window that shows them holds them already, and a copy here would stay for
// the whole run.
[[nodiscard]] std::vector<IconImage> ProductIcon(std::size_t most = kIconImageCount);
// The embedded file itself.
[[nodiscard]] std::span<const std::uint8_t> ProductIconFile();

// The images of an icon file with uncompressed 24 or 32-bit images, in the
// file's order: a 32-bit image's alpha comes from its pixels, a 24-bit one's
// from the mask (opaque or transparent). Empty when the bytes are not such a
// file. With `most`, only the first images are read (and checked).
[[nodiscard]] std::vector<IconImage> ReadIconFile(std::span<const std::uint8_t> bytes,
                                                  std::size_t most = static_cast<std::size_t>(-1));

}  // namespace ssr
