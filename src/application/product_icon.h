#pragma once
// The product icon, drawn by our own code: a list page with a broom sweeping
// a stale row away. Four images, as the window gets them at start-up.

#include <cstdint>
#include <vector>

namespace ssr {

struct IconImage {
    int size = 0;                     // width and height in pixels
    int bits_per_pixel = 32;          // 24 for the 32x32 image, 32 for the others
    std::vector<std::uint32_t> argb;  // row-major, top row first, 0xAARRGGBB
};

// The sizes and colour depths of the product icon's images.
inline constexpr int kIconSizes[4] = {32, 48, 128, 256};

[[nodiscard]] IconImage DrawProductIconImage(int size);
// All four images: 32x32 at 24 bits, 48, 128 and 256 at 32 bits.
[[nodiscard]] std::vector<IconImage> DrawProductIcon();

}  // namespace ssr
