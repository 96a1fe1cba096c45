#pragma once
// The design of the main window Form1: sizes in twips, captions, tab order,
// fonts, colours, the list's hint and the handler each control's events run.
// Both front ends build and bind their widgets from this table and nothing
// else: a front end calls the handler a row names, never works out which
// handler a control has.

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/colour.h"
#include "platform/text.h"

namespace ssr {

class Form1;

// A handler of Form1 that a control's event runs.
using FormHandler = void (Form1::*)() noexcept;

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
    FormHandler click = nullptr;       // nullptr for controls without a Click handler
    FormHandler mouse_move = nullptr;  // nullptr for controls without a MouseMove handler
};

struct FontDesign {
    std::string_view face;
    double points;
    bool bold;
};

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

// In the window's control order, top to bottom, then the components. Defined
// beside Form1, whose handlers it names.
extern const std::array<ControlDesign, 9> kControls;

// Twips to device pixels at `dpi` dots per inch (15 twips a pixel at 96).
[[nodiscard]] constexpr int Pixels(int twips, int dpi = 96) {
    return static_cast<int>((static_cast<long long>(twips) * dpi + kTwipsPerInch / 2) / kTwipsPerInch);
}

// The control of a design name; nullptr when there is none.
[[nodiscard]] const ControlDesign* FindControl(std::string_view name);

}  // namespace design
}  // namespace ssr
