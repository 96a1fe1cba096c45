#pragma once
// The labels of the error reports a scripted desktop has shown, in order.

#include <string>
#include <vector>

#include "doubles/scripted_desktop.h"
#include "steps/error_report.h"

namespace ssr::testing {

inline std::vector<int> ReportLabels(const ScriptedDesktop& desktop) {
    std::vector<int> labels;
    for (const auto& box : desktop.boxes) {
        if (!box.caption || *box.caption != kErrorReportCaption) continue;
        const auto at = box.prompt.find(u"at line ");
        labels.push_back(std::stoi(ToUtf8(box.prompt.substr(at + 8, box.prompt.find(u'\r', at) - at - 8))));
    }
    return labels;
}

}  // namespace ssr::testing
