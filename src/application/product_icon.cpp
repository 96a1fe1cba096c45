#include "application/product_icon.h"

#include <algorithm>
#include <cmath>

namespace ssr {

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

}  // namespace ssr
