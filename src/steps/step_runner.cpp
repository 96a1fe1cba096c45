// Running a handler's labelled steps under the one rule: report a failure and go on.
#include "steps/step_runner.h"

#include <algorithm>
#include <exception>
#include <vector>

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
    const std::size_t count = steps.size();
    // The row of each label, by the label's distance from the lowest one:
    // labels are a handful of small numbers, and a loop jumps back to its
    // head once per record. A label used twice means its first row.
    int lowest = count != 0 ? steps.front().label : 0;
    int highest = lowest;
    const auto take = [&](int label) {
        lowest = std::min(lowest, label);
        highest = std::max(highest, label);
    };
    for (const Step& step : steps) {
        take(step.label);
        if (step.anchor != 0) take(step.anchor);
    }
    std::vector<std::size_t> row_of_label(static_cast<std::size_t>(highest - lowest) + 1, count);
    for (std::size_t i = count; i-- > 0;) {
        row_of_label[static_cast<std::size_t>(steps[i].label - lowest)] = i;
        if (steps[i].anchor != 0) row_of_label[static_cast<std::size_t>(steps[i].anchor - lowest)] = i;
    }

    const auto follow = [&](std::size_t row, Next next) -> std::size_t {
        switch (next.kind) {
            case Next::Kind::Advance: return row + 1;
            case Next::Kind::End: return count;
            case Next::Kind::Jump:
                if (next.label < lowest || next.label > highest) return count;
                return row_of_label[static_cast<std::size_t>(next.label - lowest)];
        }
        return count;
    };

    const Step* const table = steps.data();
    std::size_t row = 0;
    while (row < count) {
        const Step& step = table[row];
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
