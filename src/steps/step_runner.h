#pragma once
// Every working handler is a fixed table of labelled steps run under one rule:
// a failing step is reported with the handler's location text and the step's
// label, and the handler goes on as the step's resume rule says. Nothing
// escapes a handler.

#include <functional>
#include <vector>

#include "platform/text.h"

namespace ssr {

class Desktop;

// Where a step continues: the next row of the table, a labelled row, or the end.
struct Next {
    enum class Kind { Advance, Jump, End };
    Kind kind = Kind::Advance;
    int label = 0;

    static constexpr Next Advance() { return {}; }
    static constexpr Next Jump(int target) { return {Kind::Jump, target}; }
    static constexpr Next End() { return {Kind::End, 0}; }
};

struct Step {
    int label;
    std::function<Next()> action;
    // Where to go on after the report; by default the row after this one.
    Next on_failure = Next::Advance();
    // A second jump target for a row that shares its label with an earlier
    // row (a loop's move-on step reports the label of the step before it).
    int anchor = 0;
};

using StepTable = std::vector<Step>;

// Runs `steps` from the first row. Failures of any kind are reported through
// ShowApplicationError with `location`; the runner never throws.
void RunSteps(Desktop& desktop, TextView location, const StepTable& steps) noexcept;

}  // namespace ssr
