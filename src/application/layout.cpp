#include "application/layout.h"

#include <stdexcept>
#include <string>

namespace ssr::design {

const ControlDesign* FindControl(std::string_view name) {
    for (const auto& control : kControls)
        if (control.name == name) return &control;
    return nullptr;
}

const ControlDesign& PushButton(int number) {
    const std::string name = "PushButton" + std::to_string(number);
    const ControlDesign* control = FindControl(name);
    if (!control) throw std::out_of_range("no such push button");
    return *control;
}

}  // namespace ssr::design
