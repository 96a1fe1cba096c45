// Reading Windows pointer files (.cur) into Qt cursors.
#include "platform/qt/cursor_file.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ssr {

namespace {

constexpr int kDirectoryHeaderSize = 6;
constexpr int kDirectoryEntrySize = 16;
constexpr int kBitmapInfoHeaderSize = 40;
constexpr int kMaxSide = 256;
constexpr int kPreferredSide = 32;

// Little-endian reads with bounds checks; a short read marks the reader bad
// instead of running past the buffer.
class Reader {
public:
    explicit Reader(const QByteArray& bytes) : m_bytes(bytes) {}

    [[nodiscard]] bool Has(qsizetype offset, qsizetype count) const {
        return offset >= 0 && count >= 0 && offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    [[nodiscard]] std::uint8_t U8(qsizetype offset) const {
        return static_cast<std::uint8_t>(m_bytes[offset]);
    }
    [[nodiscard]] std::uint16_t U16(qsizetype offset) const {
        return static_cast<std::uint16_t>(U8(offset) | (U8(offset + 1) << 8));
    }
    [[nodiscard]] std::uint32_t U32(qsizetype offset) const {
        return static_cast<std::uint32_t>(U16(offset)) | (static_cast<std::uint32_t>(U16(offset + 2)) << 16);
    }
    [[nodiscard]] std::int32_t I32(qsizetype offset) const { return static_cast<std::int32_t>(U32(offset)); }

private:
    const QByteArray& m_bytes;
};

struct DirectoryEntry {
    int width;
    int height;
    QPoint hotspot;
    qsizetype offset;
    qsizetype size;
};

bool IsPng(const QByteArray& data) { return data.startsWith("\x89PNG\r\n\x1a\n"); }

std::optional<QImage> DecodePng(const QByteArray& data) {
    QImage image;
    if (!image.loadFromData(data, "PNG") || image.isNull()) return std::nullopt;
    if (image.width() > kMaxSide || image.height() > kMaxSide) return std::nullopt;
    return image.convertToFormat(QImage::Format_ARGB32);
}

// BMP-in-ICO: BITMAPINFOHEADER, palette, XOR rows, AND rows.
std::optional<QImage> DecodeBitmap(const QByteArray& data) {
    const Reader in(data);
    if (!in.Has(0, kBitmapInfoHeaderSize)) return std::nullopt;
    const std::uint32_t header_size = in.U32(0);
    const std::int32_t width = in.I32(4);
    const std::int32_t double_height = in.I32(8);
    const std::uint16_t planes = in.U16(12);
    const std::uint16_t bits = in.U16(14);
    const std::uint32_t compression = in.U32(16);
    const std::uint32_t colours_used = in.U32(32);
    if (header_size < kBitmapInfoHeaderSize || header_size > static_cast<std::uint32_t>(data.size())) return std::nullopt;
    if (planes != 1 || compression != 0) return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
    // The height covers the colour rows and the mask rows together.
    if (width <= 0 || width > kMaxSide || double_height <= 0 || double_height % 2 != 0 ||
        double_height / 2 > kMaxSide)
        return std::nullopt;
    const int height = double_height / 2;

    qsizetype offset = header_size;
    std::vector<QRgb> palette;
    if (bits <= 8) {
        const std::uint32_t full = 1U << bits;
        const std::uint32_t count = colours_used == 0 ? full : colours_used;
        if (count > full) return std::nullopt;
        if (!in.Has(offset, static_cast<qsizetype>(count) * 4)) return std::nullopt;
        for (std::uint32_t i = 0; i < count; ++i) {
            const qsizetype at = offset + static_cast<qsizetype>(i) * 4;
            palette.push_back(qRgb(in.U8(at + 2), in.U8(at + 1), in.U8(at)));
        }
        offset += static_cast<qsizetype>(count) * 4;
    }

    const qsizetype colour_stride = ((static_cast<qsizetype>(width) * bits + 31) / 32) * 4;
    const qsizetype mask_stride = ((static_cast<qsizetype>(width) + 31) / 32) * 4;
    const qsizetype colour_offset = offset;
    const qsizetype mask_offset = colour_offset + colour_stride * height;
    if (!in.Has(colour_offset, colour_stride * height) || !in.Has(mask_offset, mask_stride * height))
        return std::nullopt;

    QImage image(width, height, QImage::Format_ARGB32);
    bool any_alpha = false;
    for (int y = 0; y < height; ++y) {
        const qsizetype row = colour_offset + colour_stride * (height - 1 - y);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            QRgb pixel = 0;
            switch (bits) {
                case 32: {
                    const qsizetype at = row + static_cast<qsizetype>(x) * 4;
                    pixel = qRgba(in.U8(at + 2), in.U8(at + 1), in.U8(at), in.U8(at + 3));
                    any_alpha = any_alpha || qAlpha(pixel) != 0;
                    break;
                }
                case 24: {
                    const qsizetype at = row + static_cast<qsizetype>(x) * 3;
                    pixel = qRgb(in.U8(at + 2), in.U8(at + 1), in.U8(at));
                    break;
                }
                default: {
                    const int per_byte = 8 / bits;
                    const std::uint8_t byte = in.U8(row + x / per_byte);
                    const int shift = 8 - bits * (x % per_byte + 1);
                    const std::size_t index = (byte >> shift) & ((1U << bits) - 1U);
                    if (index >= palette.size()) return std::nullopt;
                    pixel = palette[index];
                    break;
                }
            }
            line[x] = pixel;
        }
    }

    // A 32-bit image with alpha carries its own transparency; all others (and
    // 32-bit images whose alpha is all zero, as older tools wrote them) take
    // it from the AND mask, where a set bit means "see through".
    if (bits != 32 || !any_alpha) {
        for (int y = 0; y < height; ++y) {
            const qsizetype row = mask_offset + mask_stride * (height - 1 - y);
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const bool transparent = ((in.U8(row + x / 8) >> (7 - x % 8)) & 1U) != 0;
                line[x] = transparent ? qRgba(0, 0, 0, 0) : (line[x] | 0xFF000000U);
            }
        }
    }
    return image;
}

}  // namespace

std::optional<CursorImage> DecodeCursorFile(const QByteArray& bytes) {
    const Reader in(bytes);
    if (!in.Has(0, kDirectoryHeaderSize)) return std::nullopt;
    if (in.U16(0) != 0 || in.U16(2) != 2) return std::nullopt;
    const int count = in.U16(4);
    if (count == 0 || !in.Has(kDirectoryHeaderSize, static_cast<qsizetype>(count) * kDirectoryEntrySize))
        return std::nullopt;

    std::vector<DirectoryEntry> entries;
    for (int i = 0; i < count; ++i) {
        const qsizetype at = kDirectoryHeaderSize + static_cast<qsizetype>(i) * kDirectoryEntrySize;
        DirectoryEntry entry{in.U8(at) == 0 ? kMaxSide : in.U8(at), in.U8(at + 1) == 0 ? kMaxSide : in.U8(at + 1),
                             QPoint(in.U16(at + 4), in.U16(at + 6)), static_cast<qsizetype>(in.U32(at + 12)),
                             static_cast<qsizetype>(in.U32(at + 8))};
        if (entry.size == 0 || !in.Has(entry.offset, entry.size)) return std::nullopt;
        entries.push_back(entry);
    }

    // The platform draws pointers at 32 pixels; the nearest entry looks best.
    const DirectoryEntry* best = &entries.front();
    for (const DirectoryEntry& entry : entries)
        if (std::abs(entry.width - kPreferredSide) < std::abs(best->width - kPreferredSide)) best = &entry;

    const QByteArray data = bytes.mid(best->offset, best->size);
    std::optional<QImage> image = IsPng(data) ? DecodePng(data) : DecodeBitmap(data);
    if (!image) return std::nullopt;
    if (best->hotspot.x() >= image->width() || best->hotspot.y() >= image->height()) return std::nullopt;
    return CursorImage{*image, best->hotspot};
}

}  // namespace ssr
