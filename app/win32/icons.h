#pragma once
// The product icon's images, drawn by the core, as Windows icons.

#include <vector>

#include "app/win32/window_handles.h"
#include "application/product_icon.h"

namespace ssr::win32 {

// An icon of the image's own size. A 24-bit image keeps its on/off mask; a
// 32-bit image keeps its alpha channel.
[[nodiscard]] UniqueHicon MakeIcon(const IconImage& image);

// The image whose size is the smallest one at least `pixels` wide, or the
// largest there is; nullptr for no images.
[[nodiscard]] const IconImage* BestImageFor(const std::vector<IconImage>& images, int pixels);

}  // namespace ssr::win32
