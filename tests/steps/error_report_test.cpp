// The error report's texts and the step runner's rule.
#include "steps/error_report.h"

#include <gtest/gtest.h>

#include <ostream>

#include "doubles/scripted_desktop.h"
#include "platform/failure.h"
#include "steps/step_runner.h"

namespace ssr {
namespace {

TEST(ErrorReport, MessageIsExactByteForByte) {
    EXPECT_EQ(ComposeApplicationError(location::kPushButton3Click, 106, u"Index out of bounds"),
              u"Index out of bounds\r\nin Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton3_Click at line "
              u"106\r\rPlease email screenshot of this message to support@sweep-stale-records.example");
    EXPECT_EQ(ComposeApplicationError(location::kPushButton4Click, 100, u""),
              u"\r\nin Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton4_Click at line 100\r\rPlease email "
              u"screenshot of this message to support@sweep-stale-records.example");
}

TEST(ErrorReport, ShowsAWarningBoxWithItsOwnCaption) {
    ScriptedDesktop desktop;
    ShowApplicationError(desktop, location::kFormLoad, 128, u"Overflow");
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].style, 48);
    EXPECT_EQ(desktop.boxes[0].caption, Text(u"Application Error"));
}

TEST(ErrorReport, EveryLocationTextNamesItsHandlerAndEndsInOneBlank) {
    const std::pair<TextView, TextView> locations[] = {
        {location::kFormLoad, u"Form_Load"},
        {location::kPushButton1Click, u"PushButton1_Click"}, {location::kPushButton2Click, u"PushButton2_Click"},
        {location::kPushButton3Click, u"PushButton3_Click"}, {location::kPushButton4Click, u"PushButton4_Click"},
        {location::kPushButton5Click, u"PushButton5_Click"}, {location::kPushButton6Click, u"PushButton6_Click"},
    };
    for (const auto& [text, handler] : locations)
        EXPECT_EQ(text, u"in Sweep_Stale_Installed_Record2021/08/31.Form1." + Text(handler) + u" ");
}

// The runner's resume rules: go on after the failed row, jump where a row
// says, end where a row says, and never let anything escape.
struct RunnerCase {
    const char* behaviour;
    int failing_label;
    Next on_failure;
    std::vector<int> expected_rows_run;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const RunnerCase& c, std::ostream* os) { *os << c.behaviour; }

class Runner : public ::testing::TestWithParam<RunnerCase> {};

TEST_P(Runner, GoesOnAsTheFailedRowSays) {
    ScriptedDesktop desktop;
    std::vector<int> ran;
    const auto row = [&](int label, Next next = Next::Advance()) {
        return Step{label,
                    [&, label, next] {
                        ran.push_back(label);
                        if (label == GetParam().failing_label) throw std::runtime_error("boom");
                        return next;
                    },
                    label == GetParam().failing_label ? GetParam().on_failure : Next::Advance()};
    };
    RunSteps(desktop, location::kFormLoad, {row(100), row(102, Next::Jump(106)), row(104), row(106), row(108)});
    EXPECT_EQ(ran, GetParam().expected_rows_run);
    const int reports = GetParam().failing_label ? 1 : 0;
    ASSERT_EQ(desktop.boxes.size(), static_cast<std::size_t>(reports));
    if (reports) {
        EXPECT_EQ(desktop.boxes[0].prompt.substr(0, 6), u"boom\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Runner,
    ::testing::Values(RunnerCase{"NoFailure", 0, Next::Advance(), {100, 102, 106, 108}},
                      RunnerCase{"FailedJumpGoesToTheNextRow", 102, Next::Advance(), {100, 102, 104, 106, 108}},
                      RunnerCase{"FailureCanJump", 100, Next::Jump(106), {100, 106, 108}},
                      RunnerCase{"FailureCanEnd", 106, Next::End(), {100, 102, 106}},
                      RunnerCase{"FailedLastRowEnds", 108, Next::Advance(), {100, 102, 106, 108}},
                      RunnerCase{"FailureEndsHandler", 100, Next::End(), {100}}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST(RunnerReport, NamesTheLabelAndSurvivesAFailingReport) {
    ScriptedDesktop desktop;
    int boxes = 0;
    desktop.on_box = [&](const ScriptedDesktop::Box&) {
        if (++boxes == 1) throw Failure(u"box failed");
    };
    bool second_ran = false;
    RunSteps(desktop, location::kFormLoad,
             {{130, [] () -> Next { throw Failure(u"first"); }}, {132, [&] { second_ran = true; return Next::Advance(); }}});
    EXPECT_TRUE(second_ran);
}

}  // namespace
}  // namespace ssr
