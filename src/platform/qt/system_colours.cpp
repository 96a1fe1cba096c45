// Design colours, system colours included, as Qt colours.
#include "platform/qt/system_colours.h"

#include "platform/colour.h"

namespace ssr {

namespace {

// Windows' system colour indexes (COLOR_*) and the palette roles that play
// the same part on the Qt desktop.
QColor SystemColour(int index, const QPalette& palette) {
    switch (index) {
        case 5: return palette.color(QPalette::Base);               // window background
        case 8: return palette.color(QPalette::Text);               // window text
        case 13: return palette.color(QPalette::Highlight);
        case 14: return palette.color(QPalette::HighlightedText);
        case 15: return palette.color(QPalette::Button);            // button face
        case 16: return palette.color(QPalette::Dark);              // button shadow
        case 17: return palette.color(QPalette::Disabled, QPalette::Text);  // grey text
        case 18: return palette.color(QPalette::ButtonText);
        case 20: return palette.color(QPalette::Light);             // button highlight
        case 23: return palette.color(QPalette::ToolTipText);
        case 24: return palette.color(QPalette::ToolTipBase);
        default: return palette.color(QPalette::Window);
    }
}

}  // namespace

QColor ResolveColour(std::uint32_t colour, const QPalette& palette) {
    if (IsSystemColor(colour)) return SystemColour(SystemColorIndex(colour), palette);
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

std::uint32_t ColourValue(const QColor& colour) {
    const QRgb rgb = colour.rgb();
    return static_cast<std::uint32_t>(qRed(rgb)) | (static_cast<std::uint32_t>(qGreen(rgb)) << 8) |
           (static_cast<std::uint32_t>(qBlue(rgb)) << 16);
}

}  // namespace ssr
