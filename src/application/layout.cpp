// The design table of Form1: sizes, captions, fonts, colours and handlers.
#include "application/layout.h"

#include "application/form1.h"

namespace ssr::design {

// Constant-initialized, so it is whole before any code runs.
constinit const std::array<ControlDesign, 9> kControls{{
    {"PushButton4", ControlKind::PushButton, u"Help", {120, 120, 7800, 405}, 4, &Form1::PushButton4_Click,
     &Form1::PushButton_MouseMove},
    {"ListView1", ControlKind::ListView, u"", {120, 630, 7800, 3945}, 0, nullptr, &Form1::ListView1_MouseMove},
    {"PushButton3", ControlKind::PushButton, u"Suggest Old Entries To Remove", {120, 4680, 7800, 405}, 1,
     &Form1::PushButton3_Click, &Form1::PushButton_MouseMove},
    {"PushButton5", ControlKind::PushButton, u"Select All Containing This Text", {120, 5190, 7800, 405}, 5,
     &Form1::PushButton5_Click, &Form1::PushButton_MouseMove},
    {"PushButton6", ControlKind::PushButton, u"Select All Not Containing This Text", {120, 5700, 7800, 405}, 6,
     &Form1::PushButton6_Click, &Form1::PushButton_MouseMove},
    {"PushButton2", ControlKind::PushButton, u"Start Removing Checked Entries", {120, 6210, 7800, 405}, 2,
     &Form1::PushButton2_Click, &Form1::PushButton_MouseMove},
    {"PushButton1", ControlKind::PushButton, u"Uninstall Selected Entry From Computer", {120, 6720, 7800, 405}, 3,
     &Form1::PushButton1_Click, &Form1::PushButton_MouseMove},
    {"SkinFramework1", ControlKind::SkinFramework, u"", {0, 0, 0, 0}, -1},
    {"CommonDialog1", ControlKind::CommonDialog, u"", {0, 0, 0, 0}, -1},
}};

const ControlDesign* FindControl(std::string_view name) {
    for (const auto& control : kControls)
        if (control.name == name) return &control;
    return nullptr;
}

}  // namespace ssr::design
