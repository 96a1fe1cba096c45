#pragma once
// Colour values of the design (0x00BBGGRR, or a system colour with the high
// bit set) as Qt colours. System colours come from the palette, so the
// window follows the desktop's theme the way the Windows build follows the
// system's colour scheme.

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace ssr {

[[nodiscard]] QColor ResolveColour(std::uint32_t colour, const QPalette& palette);
// A Qt colour as a design colour value, 0x00BBGGRR.
[[nodiscard]] std::uint32_t ColourValue(const QColor& colour);

}  // namespace ssr
