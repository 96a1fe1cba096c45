#pragma once
// The Windows pointer file format (.cur), read without any help
// from the toolkit's image plug-ins, which know icons but not cursor hotspots.
// A .cur file is an icon directory of type 2 whose entries carry the hotspot
// where an icon keeps its planes and bit count; each image is either a BMP
// without file header (colour rows followed by a 1-bit AND mask, both bottom
// up, the header giving twice the real height) or a whole PNG file.

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <optional>

namespace ssr {

struct CursorImage {
    QImage image;  // ARGB32, premultiplied not; transparent where the AND mask says so
    QPoint hotspot;
};

// The image that suits a 32-pixel pointer best. Empty for anything that is not
// a well-formed cursor file (wrong type, entries outside the file, unsupported
// depth or compression, truncated pixel data).
[[nodiscard]] std::optional<CursorImage> DecodeCursorFile(const QByteArray& bytes);

}  // namespace ssr
