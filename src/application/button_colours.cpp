// Chooses readable button colours: the design's look where it reads well,
// the system's button colours where it does not.

#include "application/button_colours.h"

#include <algorithm>
#include <cmath>

#include "platform/colour.h"

namespace ssr {

namespace {

double Linear(std::uint32_t channel) {
    const double c = static_cast<double>(channel & 0xFFU) / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(std::uint32_t colour) {
    return 0.2126 * Linear(colour) + 0.7152 * Linear(colour >> 8) + 0.0722 * Linear(colour >> 16);
}

constexpr std::uint32_t kBlack = 0x00000000;

}  // namespace

double ContrastRatio(std::uint32_t a, std::uint32_t b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

ButtonColours ReadableButtonColours(std::uint32_t design_face, std::uint32_t system_text, std::uint32_t system_face) {
    if (ContrastRatio(system_text, design_face) >= kReadableContrast) return {design_face, system_text};
    if (ContrastRatio(system_text, system_face) >= kReadableContrast) return {system_face, system_text};
    const bool black_reads_better = ContrastRatio(kBlack, design_face) >= ContrastRatio(kColorWhite, design_face);
    return {design_face, black_reads_better ? kBlack : kColorWhite};
}

}  // namespace ssr
