// The drawn product icon turned into Windows icon handles.
#include "app/win32/icons.h"

namespace ssr::win32 {

UniqueHicon MakeIcon(const IconImage& image) {
    const int size = image.size;
    if (size <= 0 || image.argb.size() != static_cast<std::size_t>(size) * static_cast<std::size_t>(size)) return {};

    BITMAPV5HEADER header{};
    header.bV5Size = sizeof(header);
    header.bV5Width = size;
    header.bV5Height = -size;  // top row first, as the image is stored
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;

    void* bits = nullptr;
    UniqueHbitmap colour;
    {
        const WindowDc screen(nullptr);
        colour.reset(::CreateDIBSection(screen.get(), reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                        &bits, nullptr, 0));
    }
    if (!colour || !bits) return {};

    // The AND mask: one bit a pixel, rows padded to 16 bits; set bits are transparent.
    const int stride = ((size + 15) / 16) * 2;
    std::vector<unsigned char> mask(static_cast<std::size_t>(stride * size), 0);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    const bool keep_alpha = image.bits_per_pixel == 32;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const std::uint32_t p = image.argb[static_cast<std::size_t>(y * size + x)];
            const bool transparent = (p >> 24) == 0;
            if (transparent) mask[static_cast<std::size_t>(y * stride + x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
            // Without alpha the mask alone decides; Windows then ignores the top byte when it is zero everywhere.
            pixels[y * size + x] = keep_alpha ? p : (transparent ? 0 : (p & 0x00FFFFFF));
        }
    }
    UniqueHbitmap mono(::CreateBitmap(size, size, 1, 1, mask.data()));
    if (!mono) return {};

    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mono.get();
    info.hbmColor = colour.get();
    return UniqueHicon(::CreateIconIndirect(&info));
}

const IconImage* BestImageFor(const std::vector<IconImage>& images, int pixels) {
    const IconImage* best = nullptr;
    for (const auto& image : images) {
        if (!best) { best = &image; continue; }
        const bool fits = image.size >= pixels;
        const bool best_fits = best->size >= pixels;
        if (fits && (!best_fits || image.size < best->size)) best = &image;
        else if (!fits && !best_fits && image.size > best->size) best = &image;
    }
    return best;
}

}  // namespace ssr::win32
