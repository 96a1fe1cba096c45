// Writes the program's artwork from our own drawing code: the product icon
// (assets/product.ico, four images) and the hand pointer (assets/HAND-M.CUR).
//   ssr_artwork <assets folder>          write both files
//   ssr_artwork --check <assets folder>  fail when the files differ from the drawing

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "application/product_icon.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A BMP-in-ICO image: header with doubled height, XOR pixels bottom-up, then
// the 1-bit AND mask (1 = transparent).
Bytes DeviceIndependentBitmap(const ssr::IconImage& image) {
    const int n = image.size;
    const int bpp = image.bits_per_pixel;
    const int xor_stride = ((n * bpp / 8) + 3) & ~3;
    const int and_stride = ((n + 31) / 32) * 4;
    Bytes out;
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(n));
    Put32(out, static_cast<std::uint32_t>(n * 2));
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(bpp));
    Put32(out, 0);
    Put32(out, static_cast<std::uint32_t>((xor_stride + and_stride) * n));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = n - 1; y >= 0; --y) {
        Bytes row;
        for (int x = 0; x < n; ++x) {
            const std::uint32_t p = image.argb[static_cast<std::size_t>(y * n + x)];
            row.push_back(static_cast<std::uint8_t>(p & 0xFF));
            row.push_back(static_cast<std::uint8_t>((p >> 8) & 0xFF));
            row.push_back(static_cast<std::uint8_t>((p >> 16) & 0xFF));
            if (bpp == 32) row.push_back(static_cast<std::uint8_t>(p >> 24));
        }
        row.resize(static_cast<std::size_t>(xor_stride), 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(static_cast<std::size_t>(and_stride), 0);
        for (int x = 0; x < n; ++x)
            if ((image.argb[static_cast<std::size_t>(y * n + x)] >> 24) == 0)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// An icon (type 1) or cursor (type 2) file. For cursors the directory's
// planes and bit-count fields hold the hotspot.
Bytes IconFile(unsigned type, const std::vector<ssr::IconImage>& images, int hot_x = 0, int hot_y = 0) {
    std::vector<Bytes> bodies;
    for (const auto& image : images) bodies.push_back(DeviceIndependentBitmap(image));
    Bytes out;
    Put16(out, 0);
    Put16(out, type);
    Put16(out, static_cast<unsigned>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int n = images[i].size;
        out.push_back(static_cast<std::uint8_t>(n >= 256 ? 0 : n));
        out.push_back(static_cast<std::uint8_t>(n >= 256 ? 0 : n));
        out.push_back(0);
        out.push_back(0);
        Put16(out, type == 2 ? static_cast<unsigned>(hot_x) : 1);
        Put16(out, type == 2 ? static_cast<unsigned>(hot_y) : static_cast<unsigned>(images[i].bits_per_pixel));
        Put32(out, static_cast<std::uint32_t>(bodies[i].size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(bodies[i].size());
    }
    for (const auto& body : bodies) out.insert(out.end(), body.begin(), body.end());
    return out;
}

// The hand pointer: a white hand with a black outline, index finger up.
// 'X' outline, 'o' fill, anything else transparent. The hotspot is the fingertip.
constexpr const char* kHand[] = {
    "      XX           ",
    "     XooX          ",
    "     XooX          ",
    "     XooX          ",
    "     XooX          ",
    "     XooXXX        ",
    "     XooXooXXX     ",
    "     XooXooXooXX   ",
    "  XX XooXooXooXoX  ",
    " XooXXooooooooXooX ",
    " XoooXoooooooooooX ",
    "  XooXoooooooooooX ",
    "   XoXoooooooooooX ",
    "   XooooooooooooX  ",
    "    XoooooooooooX  ",
    "    XooooooooooX   ",
    "     XoooooooooX   ",
    "     XoooooooooX   ",
    "      XooooooooX   ",
    "      XXXXXXXXXX   ",
};
constexpr int kHotX = 6;
constexpr int kHotY = 0;

ssr::IconImage DrawHand() {
    ssr::IconImage image;
    image.size = 32;
    image.bits_per_pixel = 32;
    image.argb.assign(32 * 32, 0);
    for (std::size_t y = 0; y < std::size(kHand); ++y)
        for (std::size_t x = 0; kHand[y][x] != '\0'; ++x) {
            const char c = kHand[y][x];
            if (c == 'X') image.argb[y * 32 + x] = 0xFF000000;
            if (c == 'o') image.argb[y * 32 + x] = 0xFFFFFFFF;
        }
    return image;
}

bool WriteOrCheck(const std::string& path, const Bytes& bytes, bool check) {
    if (check) {
        std::ifstream in(path, std::ios::binary);
        const Bytes existing((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (existing != bytes) {
            std::cerr << path << " differs from what the drawing code makes; run the artwork target\n";
            return false;
        }
        return true;
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !check) {
        std::cerr << "usage: ssr_artwork [--check] <assets folder>\n";
        return 2;
    }
    const std::string folder = argv[argc - 1];
    bool ok = WriteOrCheck(folder + "/product.ico", IconFile(1, ssr::DrawProductIcon()), check);
    ok = WriteOrCheck(folder + "/HAND-M.CUR", IconFile(2, {DrawHand()}, kHotX, kHotY), check) && ok;
    return ok ? 0 : 1;
}
