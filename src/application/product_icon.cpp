// Drawing the product icon's four images.
#include "application/product_icon.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

namespace ssr {

// assets/product.ico, embedded by the build (cmake/embed_file.cmake).
extern const std::uint8_t kProductIconFile[];
extern const std::size_t kProductIconFileSize;

namespace {

struct Canvas {
    int size;
    std::vector<std::uint32_t> pixels;

    // Paints a shape given by a coverage function sampled 4x4 per pixel.
    template <typename Inside>
    void Fill(std::uint32_t rgb, Inside inside) {
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                int hits = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx)
                        if (inside((x + (sx + 0.5) / 4.0) / size, (y + (sy + 0.5) / 4.0) / size)) ++hits;
                if (hits == 0) continue;
                Blend(pixels[static_cast<std::size_t>(y * size + x)], rgb, hits / 16.0);
            }
        }
    }

    static void Blend(std::uint32_t& dst, std::uint32_t rgb, double coverage) {
        const double da = ((dst >> 24) & 0xFF) / 255.0;
        const double out_a = coverage + da * (1 - coverage);
        auto channel = [&](int shift) {
            const double s = ((rgb >> shift) & 0xFF) / 255.0;
            const double d = ((dst >> shift) & 0xFF) / 255.0;
            const double c = out_a > 0 ? (s * coverage + d * da * (1 - coverage)) / out_a : 0;
            return static_cast<std::uint32_t>(std::lround(c * 255)) << shift;
        };
        dst = (static_cast<std::uint32_t>(std::lround(out_a * 255)) << 24) | channel(16) | channel(8) | channel(0);
    }
};

bool InRoundedRect(double x, double y, double l, double t, double r, double b, double radius) {
    if (x < l || x > r || y < t || y > b) return false;
    const double cx = std::clamp(x, l + radius, r - radius);
    const double cy = std::clamp(y, t + radius, b - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// Distance from (x, y) to the segment (ax, ay)-(bx, by).
double SegmentDistance(double x, double y, double ax, double ay, double bx, double by) {
    const double vx = bx - ax, vy = by - ay;
    const double t = std::clamp(((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
    const double dx = x - (ax + t * vx), dy = y - (ay + t * vy);
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

IconImage DrawProductIconImage(int size) {
    Canvas canvas{size, std::vector<std::uint32_t>(static_cast<std::size_t>(size * size), 0)};
    // The page.
    canvas.Fill(0x2B5797, [](double x, double y) { return InRoundedRect(x, y, 0.10, 0.06, 0.80, 0.94, 0.08); });
    canvas.Fill(0xFFFFFF, [](double x, double y) { return InRoundedRect(x, y, 0.15, 0.11, 0.75, 0.89, 0.05); });
    // Rows of the list, with a check box each; the third row is the stale one.
    for (int row = 0; row < 5; ++row) {
        const double top = 0.18 + row * 0.14;
        const bool stale = row == 2;
        canvas.Fill(stale ? 0xC0392B : 0x2B5797, [top](double x, double y) {
            return InRoundedRect(x, y, 0.20, top, 0.28, top + 0.08, 0.015);
        });
        canvas.Fill(stale ? 0xE6A19A : 0x9DB3D6, [top](double x, double y) {
            return InRoundedRect(x, y, 0.33, top + 0.02, 0.70, top + 0.06, 0.02);
        });
    }
    // The broom: a handle and a fan of bristles over the stale row.
    canvas.Fill(0x8B5A2B, [](double x, double y) { return SegmentDistance(x, y, 0.92, 0.08, 0.62, 0.58) < 0.035; });
    canvas.Fill(0xE8B339, [](double x, double y) {
        const double d = SegmentDistance(x, y, 0.62, 0.58, 0.50, 0.78);
        return d < 0.11 && y > 0.52 && (x - 0.62) * 0.6 + (y - 0.58) > -0.02;
    });
    canvas.Fill(0xB8860B, [](double x, double y) { return SegmentDistance(x, y, 0.55, 0.56, 0.72, 0.63) < 0.025; });

    IconImage image;
    image.size = size;
    image.bits_per_pixel = size == 32 ? 24 : 32;
    image.argb = std::move(canvas.pixels);
    if (image.bits_per_pixel == 24) {
        // No alpha channel at 24 bits: edges are composited onto white and
        // each pixel is either opaque or transparent (the icon's AND mask).
        for (auto& p : image.argb) {
            const std::uint32_t alpha = (p >> 24) & 0xFF;
            std::uint32_t white = 0xFFFFFFFF;
            Canvas::Blend(white, p & 0xFFFFFF, alpha / 255.0);
            p = (white & 0xFFFFFF) | (alpha >= 96 ? 0xFF000000 : 0);
        }
    }
    return image;
}

std::vector<IconImage> DrawProductIcon() {
    std::vector<IconImage> images;
    for (int size : kIconSizes) images.push_back(DrawProductIconImage(size));
    return images;
}

namespace {

std::uint32_t Get16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at] | (bytes[at + 1] << 8));
}
std::uint32_t Get32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return Get16(bytes, at) | (Get16(bytes, at + 2) << 16);
}

// One image: a bitmap header (height counts the pixels and the mask), the
// pixels bottom row first, then the 1-bit mask (1 = transparent).
std::optional<IconImage> ReadIconImage(std::span<const std::uint8_t> body, int directory_size) {
    constexpr std::size_t kHeaderSize = 40;
    if (body.size() < kHeaderSize) return std::nullopt;
    const std::uint32_t header_size = Get32(body, 0);
    const auto width = static_cast<std::int32_t>(Get32(body, 4));
    const auto height = static_cast<std::int32_t>(Get32(body, 8));
    const std::uint32_t bpp = Get16(body, 14);
    const std::uint32_t compression = Get32(body, 16);
    if (header_size < kHeaderSize || header_size > body.size() || width != directory_size || height != 2 * width ||
        (bpp != 24 && bpp != 32) || compression != 0)
        return std::nullopt;
    const auto n = static_cast<std::size_t>(width);
    const std::size_t pixel_stride = ((n * bpp / 8) + 3) & ~std::size_t{3};
    const std::size_t mask_stride = ((n + 31) / 32) * 4;
    const std::size_t pixels_at = header_size;
    const std::size_t mask_at = pixels_at + pixel_stride * n;
    if (body.size() - pixels_at < (pixel_stride + mask_stride) * n) return std::nullopt;

    IconImage image;
    image.size = width;
    image.bits_per_pixel = static_cast<int>(bpp);
    image.argb.resize(n * n);
    const std::size_t step = bpp / 8;
    for (std::size_t y = 0; y < n; ++y) {
        const std::size_t row = n - 1 - y;
        const std::uint8_t* pixel = body.data() + pixels_at + row * pixel_stride;
        const std::uint8_t* mask = body.data() + mask_at + row * mask_stride;
        std::uint32_t* out = image.argb.data() + y * n;
        for (std::size_t x = 0; x < n; ++x, pixel += step) {
            const std::uint32_t rgb = (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
            const bool transparent = (mask[x / 8] & (0x80U >> (x % 8))) != 0;
            const std::uint32_t alpha = bpp == 32 ? pixel[3] : (transparent ? 0U : 0xFFU);
            out[x] = (alpha << 24) | rgb;
        }
    }
    return image;
}

}  // namespace

std::vector<IconImage> ReadIconFile(std::span<const std::uint8_t> bytes, std::size_t most) {
    constexpr std::size_t kDirectoryAt = 6;
    constexpr std::size_t kEntrySize = 16;
    if (bytes.size() < kDirectoryAt || Get16(bytes, 0) != 0 || Get16(bytes, 2) != 1) return {};
    const std::size_t count = Get16(bytes, 4);
    if (count == 0 || bytes.size() < kDirectoryAt + count * kEntrySize) return {};
    std::vector<IconImage> images;
    for (std::size_t i = 0; i < count && i < most; ++i) {
        const std::size_t entry = kDirectoryAt + i * kEntrySize;
        const int size = bytes[entry] == 0 ? 256 : bytes[entry];
        const std::size_t length = Get32(bytes, entry + 8);
        const std::size_t offset = Get32(bytes, entry + 12);
        if (offset > bytes.size() || length > bytes.size() - offset) return {};
        std::optional<IconImage> image = ReadIconImage(bytes.subspan(offset, length), size);
        if (!image) return {};
        images.push_back(std::move(*image));
    }
    return images;
}

std::span<const std::uint8_t> ProductIconFile() { return {kProductIconFile, kProductIconFileSize}; }

std::vector<IconImage> ProductIcon(std::size_t most) { return ReadIconFile(ProductIconFile(), most); }

}  // namespace ssr
