// Running a handler's labelled steps under the one rule: report a failure and go on.
#include "steps/step_runner.h"

#include <exception>
#include <unordered_map>

#include "platform/failure.h"
#include "steps/error_report.h"

namespace ssr {

namespace {

Text DescribeCurrentFailure() {
    try {
        throw;
    } catch (const Failure& failure) {
        return failure.description();
    } catch (const std::bad_alloc&) {
        return u"Out of memory";
    } catch (const std::exception& e) {
        return FromUtf8(e.what());
    } catch (...) {
        return u"Unexpected error";
    }
}

}  // namespace

void RunSteps(Desktop& desktop, TextView location, const StepTable& steps) noexcept {
    std::unordered_map<int, std::size_t> row_of_label;
    for (std::size_t i = steps.size(); i-- > 0;) {
        row_of_label[steps[i].label] = i;
        if (steps[i].anchor != 0) row_of_label[steps[i].anchor] = i;
    }

    auto follow = [&](std::size_t row, Next next) -> std::size_t {
        switch (next.kind) {
            case Next::Kind::Advance: return row + 1;
            case Next::Kind::End: return steps.size();
            case Next::Kind::Jump: {
                const auto it = row_of_label.find(next.label);
                return it == row_of_label.end() ? steps.size() : it->second;
            }
        }
        return steps.size();
    };

    std::size_t row = 0;
    while (row < steps.size()) {
        const Step& step = steps[row];
        Next next;
        try {
            next = step.action();
        } catch (...) {
            Text description = DescribeCurrentFailure();
            try {
                ShowApplicationError(desktop, location, step.label, description);
            } catch (...) {
                // The report itself has no report; the handler goes on regardless.
            }
            next = step.on_failure;
        }
        row = follow(row, next);
    }
}

}  // namespace ssr
