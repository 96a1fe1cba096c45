#pragma once
// The colours the six buttons are drawn in. The design puts the system's
// button-text colour on a white face, which reads well only where that text
// colour is dark; in a dark or high-contrast scheme it is near white, and
// the caption would vanish into the face.

#include <cstdint>

namespace ssr {

// A caption needs at least this contrast with its face (the ratio of the
// two colours' relative luminances, 1 to 21; 4.5 is the usual floor for
// text of this size).
inline constexpr double kReadableContrast = 4.5;

// Contrast ratio of two 0x00BBGGRR colours, from 1 (the same) to 21 (black on white).
[[nodiscard]] double ContrastRatio(std::uint32_t a, std::uint32_t b);

struct ButtonColours {
    std::uint32_t face;  // 0x00BBGGRR
    std::uint32_t text;  // 0x00BBGGRR
};

// The design's face with the system's button text where the two contrast;
// else the system's own button face and text, where those do (a dark or
// high-contrast scheme); else the design's face with black or white text,
// whichever reads better on it. All colours resolved, 0x00BBGGRR.
[[nodiscard]] ButtonColours ReadableButtonColours(std::uint32_t design_face, std::uint32_t system_text,
                                                  std::uint32_t system_face);

}  // namespace ssr
