#pragma once
// The design of the main window Form1: sizes in twips, captions, tab order,
// fonts, colours and the list's hint. Both front ends build their widgets
// from this table and nothing else.

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/text.h"

namespace ssr {

enum class ControlKind { PushButton, ListView, CommonDialog, SkinFramework, OptionButton, CheckBox, Frame, Label };

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

struct ControlDesign {
    std::string_view name;  // design name: "PushButton4", "ListView1", ...
    ControlKind kind;
    const char16_t* caption;  // empty for the list and the components
    TwipsRect rect;           // all zero for components without a place
    int tab_index;            // -1 for components that take no focus
};

struct FontDesign {
    std::string_view face;
    double points;
    bool bold;
};

// Colours: 0x00BBGGRR, or a system colour with the high bit set.
inline constexpr std::uint32_t kColorWhite = 0x00FFFFFF;
inline constexpr std::uint32_t kSystemButtonFace = 0x8000000F;
inline constexpr std::uint32_t kSystemButtonText = 0x80000012;
inline constexpr std::uint32_t kSystemWindowText = 0x80000008;
inline constexpr std::uint32_t kSystemWindowBackground = 0x80000005;
[[nodiscard]] constexpr bool IsSystemColor(std::uint32_t colour) { return (colour & 0x80000000U) != 0; }
[[nodiscard]] constexpr int SystemColorIndex(std::uint32_t colour) { return static_cast<int>(colour & 0xFFU); }

namespace design {

inline constexpr char16_t kProductTitle[] = u"Sweep Stale Records Out Of The Installed Applications Index";

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kClientWidth = 8040;
inline constexpr int kClientHeight = 7245;
inline constexpr std::uint32_t kFormBackColor = kColorWhite;

inline constexpr FontDesign kButtonFont{"Arial", 11.25, true};
inline constexpr std::uint32_t kButtonTextColor = kSystemButtonText;
inline constexpr std::uint32_t kButtonFaceColor = kColorWhite;
inline constexpr FontDesign kListFont{"Arial", 9.0, true};
inline constexpr std::uint32_t kListTextColor = kSystemWindowText;
inline constexpr std::uint32_t kListBackColor = kSystemWindowBackground;
inline constexpr char16_t kListHint[] = u"Move | line to right and out of window to reveal full names.";

// In the window's control order, top to bottom, then the components.
inline constexpr std::array<ControlDesign, 9> kControls{{
    {"PushButton4", ControlKind::PushButton, u"Help", {120, 120, 7800, 405}, 4},
    {"ListView1", ControlKind::ListView, u"", {120, 630, 7800, 3945}, 0},
    {"PushButton3", ControlKind::PushButton, u"Suggest Old Entries To Remove", {120, 4680, 7800, 405}, 1},
    {"PushButton5", ControlKind::PushButton, u"Select All Containing This Text", {120, 5190, 7800, 405}, 5},
    {"PushButton6", ControlKind::PushButton, u"Select All Not Containing This Text", {120, 5700, 7800, 405}, 6},
    {"PushButton2", ControlKind::PushButton, u"Start Removing Checked Entries", {120, 6210, 7800, 405}, 2},
    {"PushButton1", ControlKind::PushButton, u"Uninstall Selected Entry From Computer", {120, 6720, 7800, 405}, 3},
    {"SkinFramework1", ControlKind::SkinFramework, u"", {0, 0, 0, 0}, -1},
    {"CommonDialog1", ControlKind::CommonDialog, u"", {0, 0, 0, 0}, -1},
}};

// Twips to device pixels at `dpi` dots per inch (15 twips a pixel at 96).
[[nodiscard]] constexpr int Pixels(int twips, int dpi = 96) {
    return static_cast<int>((static_cast<long long>(twips) * dpi + kTwipsPerInch / 2) / kTwipsPerInch);
}

// The control of a design name; nullptr when there is none.
[[nodiscard]] const ControlDesign* FindControl(std::string_view name);

// Design names of the six buttons by number: PushButtonName(3) == "PushButton3".
[[nodiscard]] const ControlDesign& PushButton(int number);

}  // namespace design
}  // namespace ssr
