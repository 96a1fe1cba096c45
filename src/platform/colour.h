#pragma once
// Colour values as the window's design and the skin give them: 0x00BBGGRR,
// or, with the high bit set, the index of one of the desktop's own colours
// (the Windows COLOR_* numbers), which each platform looks up in its own
// colour scheme so the window follows the user's theme.

#include <cstdint>

namespace ssr {

inline constexpr std::uint32_t kColorWhite = 0x00FFFFFF;
inline constexpr std::uint32_t kSystemWindowBackground = 0x80000005;
inline constexpr std::uint32_t kSystemWindowText = 0x80000008;
inline constexpr std::uint32_t kSystemButtonFace = 0x8000000F;
inline constexpr std::uint32_t kSystemButtonText = 0x80000012;

[[nodiscard]] constexpr bool IsSystemColor(std::uint32_t colour) { return (colour & 0x80000000U) != 0; }
[[nodiscard]] constexpr int SystemColorIndex(std::uint32_t colour) { return static_cast<int>(colour & 0xFFU); }

}  // namespace ssr
