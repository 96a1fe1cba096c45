// Form_Load: what the window holds after start-up.
#include <gtest/gtest.h>

#include <ostream>

#include "application/appearance.h"
#include "application/form1.h"
#include "doubles/memory_registry.h"
#include "doubles/recording_skin_engine.h"
#include "doubles/scripted_desktop.h"
#include "platform/failure.h"
#include "steps/error_report.h"
#include "support/faulty_entry_list.h"
#include "support/reports.h"

namespace ssr {
namespace {

const Text kFolder = u"C:\\Program Files\\Sweep";

// A view that records what the window was told, and whether it was shown.
struct RecordingView : FormView {
    std::vector<std::string> calls;
    void ShowCaption(TextView caption) override { calls.push_back("caption " + ToUtf8(caption)); }
    void ShowIcon(const std::vector<IconImage>& images) override { calls.push_back("icon " + std::to_string(images.size())); }
    void ShowMouseIcon(const std::shared_ptr<PointerPicture>&) override { calls.emplace_back("mouse icon"); }
    void ShowMousePointer(int setting) override { calls.push_back("pointer " + std::to_string(setting)); }
    void ShowBackColor(std::string_view control, std::uint32_t colour) override {
        calls.push_back("back " + std::string(control) + " " + std::to_string(colour));
    }
    std::int32_t NativeHandle() const override { return 0x1234; }
};

struct Startup : ::testing::Test {
    MemoryRegistry registry;
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    std::unique_ptr<Form1> form;
    RecordingView view;

    void SetUp() override {
        desktop.application_folder = kFolder;
        desktop.random_values = {0.5};
        registry.SetText(Text(kUninstallKeyPath) + u"\\App", u"DisplayName", u"App");
        registry.SetText(Text(kUninstallKeyPath) + u"\\App", u"UninstallString", u"C:\\App\\u.exe");
        MakeForm();
    }
    void MakeForm(std::vector<ControlDesign> controls = {design::kControls.begin(), design::kControls.end()}) {
        form = std::make_unique<Form1>(registry, desktop, skin, std::make_unique<EntryList>(), std::move(controls));
        form->AttachView(&view);
    }
};

TEST_F(Startup, WithoutOptionalFilesShowsNoMessageAndFillsTheList) {
    form->Form_Load();
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(form->Caption(), design::kProductTitle);
    EXPECT_EQ(form->Caption().size(), 59U);
    EXPECT_EQ(desktop.application_title, u"Sweep Stale Records Out Of The Installed");
    ASSERT_EQ(form->Icon().size(), 4U);
    EXPECT_EQ(form->ListView1().Count(), 1);
    EXPECT_EQ(form->BackColor(), kColorWhite);
    EXPECT_TRUE(skin.calls().empty());
    EXPECT_EQ(form->MouseIcon(), nullptr);
    EXPECT_EQ(form->MousePointer(), kPointerDefault);
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

TEST_F(Startup, TheIconHasItsFourImagesAtTheirDepths) {
    form->Form_Load();
    const std::pair<int, int> expected[] = {{32, 24}, {48, 32}, {128, 32}, {256, 32}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(form->Icon()[i].size, expected[i].first);
        EXPECT_EQ(form->Icon()[i].bits_per_pixel, expected[i].second);
        EXPECT_EQ(form->Icon()[i].argb.size(), static_cast<std::size_t>(expected[i].first * expected[i].first));
    }
}

TEST_F(Startup, LoadsThePointerPictureFromTheApplicationFolder) {
    desktop.existing_paths = {kFolder + u"\\HAND-M.CUR"};
    desktop.pointer_files = {kFolder + u"\\HAND-M.CUR"};
    form->Form_Load();
    ASSERT_NE(form->MouseIcon(), nullptr);
    EXPECT_EQ(form->MousePointer(), kPointerDefault);  // only the picture is set
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(Startup, AnUnreadablePointerFileIsReportedAt106AndSkipsThePromotion) {
    desktop.existing_paths = {kFolder + u"\\HAND-M.CUR"};
    desktop.random_values = {0.06};  // would be a 7
    form->Form_Load();
    EXPECT_EQ(testing::ReportLabels(desktop), std::vector<int>{106});
    EXPECT_EQ(desktop.randomize_calls, 0);
    EXPECT_TRUE(desktop.commands.empty());
    EXPECT_EQ(form->Caption(), design::kProductTitle);
    EXPECT_EQ(form->ListView1().Count(), 1);
}

TEST_F(Startup, APointerFileThatCannotBeSeenIsNoPointerFileAndNoMessage) {
    desktop.undecidable_paths = {{kFolder + u"\\HAND-M.CUR", FileDoubt::AccessDenied}};
    desktop.random_values = {0.06};  // a 7: the promotion is not skipped
    form->Form_Load();
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(form->MouseIcon(), nullptr);
    EXPECT_EQ(desktop.commands.size(), 1U);
}

struct Draw {
    double rnd;
    bool opens_home_page;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Draw& c, std::ostream* os) { *os << c.rnd; }

class Promotion : public Startup, public ::testing::WithParamInterface<Draw> {};

TEST_P(Promotion, OpensTheHomePageOnlyOnSeven) {
    desktop.random_values = {GetParam().rnd};
    form->Form_Load();
    EXPECT_EQ(desktop.randomize_calls, 1);
    if (GetParam().opens_home_page) {
        ASSERT_EQ(desktop.commands.size(), 1U);
        EXPECT_EQ(desktop.commands[0].command_line, u"explorer \"https://sweep-stale-records.example/\"");
        EXPECT_EQ(desktop.commands[0].show, ShowCommand::MinimizedFocus);
    } else {
        EXPECT_TRUE(desktop.commands.empty());
    }
    EXPECT_TRUE(desktop.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Numbers, Promotion,
                         ::testing::Values(Draw{0.0, false}, Draw{0.059999, false}, Draw{0.06, true},
                                           Draw{0.0699999, true}, Draw{0.07, false}, Draw{0.999999, false}));

TEST_F(Startup, AHomePageThatCannotBeOpenedIsReportedAt108) {
    desktop.random_values = {0.065};
    desktop.fail_start_command = true;
    form->Form_Load();
    EXPECT_EQ(testing::ReportLabels(desktop), std::vector<int>{108});
    EXPECT_EQ(form->Caption(), design::kProductTitle);
}

TEST_F(Startup, AFailingSkinIsReportedAt100AndTheRestIsSetUp) {
    desktop.plain_files = {kFolder + u"\\x\\o.cjs"};
    view.calls.clear();
    struct ThrowingSkin : RecordingSkinEngine {
        void LoadSkin(TextView, TextView) override { throw Failure(u"Skin refused"); }
    } failing;
    Form1 failing_form(registry, desktop, failing);
    failing_form.AttachView(&view);
    failing_form.Form_Load();
    EXPECT_EQ(testing::ReportLabels(desktop), std::vector<int>{100});
    EXPECT_EQ(failing_form.BackColor(), kSystemButtonFace);  // done before the failure, stays done
    EXPECT_EQ(failing_form.Caption(), design::kProductTitle);
    EXPECT_EQ(failing_form.ListView1().Count(), 1);
}

TEST_F(Startup, EveryReportComesBeforeTheListIsComplete) {
    // The window is shown by the front end after Form_Load returns; here we
    // check that the reports are raised inside Form_Load, while it runs.
    desktop.existing_paths = {kFolder + u"\\HAND-M.CUR"};
    int rows_when_reported = -1;
    desktop.on_box = [&](const ScriptedDesktop::Box&) { rows_when_reported = form->ListView1().ColumnCount(); };
    form->Form_Load();
    EXPECT_EQ(rows_when_reported, 0);  // before the listing built its columns
}

TEST_F(Startup, ClosingTheWindowEndsTheProcess) { EXPECT_THROW(form->Form_Unload(), ProcessEnded); }

// ---- Appearance ----

TEST_F(Startup, SkinIsLoadedConfiguredAndAppliedInOrder) {
    desktop.plain_files = {kFolder + u"\\x\\o.cjs"};
    skin.options = 0x40;
    SkinApply(*form);
    EXPECT_EQ(skin.calls(), (std::vector<std::string>{"2(C:\\Program Files\\Sweep\\x\\o.cjs,)", "1 get", "1 put 65",
                                                      "5 put true", "10 put true", "3(4660)"}));
    EXPECT_EQ(view.calls.front(), "back Form1 " + std::to_string(kSystemButtonFace));
}

TEST_F(Startup, OptionBitZeroAlreadySetIsWrittenBackUnchanged) {
    desktop.plain_files = {kFolder + u"\\x\\o.cjs"};
    skin.options = -1;
    SkinApply(*form);
    EXPECT_EQ(skin.calls()[2], "1 put -1");
}

TEST_F(Startup, OnlyTheFourPlainControlKindsAreRecoloured) {
    desktop.plain_files = {kFolder + u"\\x\\o.cjs"};
    MakeForm({{"Option1", ControlKind::OptionButton, u"", {}, 1}, {"Check1", ControlKind::CheckBox, u"", {}, 2},
              {"Frame1", ControlKind::Frame, u"", {}, 3},        {"Label1", ControlKind::Label, u"", {}, 4},
              {"PushButton1", ControlKind::PushButton, u"", {}, 5}, {"ListView1", ControlKind::ListView, u"", {}, 0}});
    SkinApply(*form);
    for (const char* name : {"Option1", "Check1", "Frame1", "Label1"})
        EXPECT_EQ(form->ControlBackColor(name), kSystemButtonFace) << name;
    EXPECT_FALSE(form->ControlBackColor("PushButton1").has_value());
    EXPECT_FALSE(form->ControlBackColor("ListView1").has_value());
}

TEST_F(Startup, WithoutAPlainSkinFileNothingChanges) {
    desktop.existing_paths = {kFolder + u"\\x\\o.cjs"};  // exists, but hidden, system or a folder
    SkinApply(*form);
    EXPECT_TRUE(skin.calls().empty());
    EXPECT_TRUE(view.calls.empty());
}

struct TitleCase {
    Text title;
    Text expected;
};

void PrintTo(const TitleCase& c, std::ostream* os) { *os << ssr::ToUtf8(c.title); }

class Title : public ::testing::TestWithParam<TitleCase> {};

TEST_P(Title, IsCutWordByWordAtLeastOnce) {
    ScriptedDesktop desktop;
    TitleApply(desktop, GetParam().title);
    EXPECT_EQ(desktop.application_title, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, Title,
    ::testing::Values(TitleCase{design::kProductTitle, u"Sweep Stale Records Out Of The Installed"},
                      TitleCase{u"One Two Three", u"One Two"}, TitleCase{u"a b", u"a"},
                      TitleCase{u"Tab\tseparated words", u"Tab\tseparated"},
                      TitleCase{Text(20, u'a') + u" " + Text(25, u'b') + u" c", Text(20, u'a')}));

TEST(TitleWithoutBlank, FailsAndKeepsTheTitle) {
    ScriptedDesktop desktop;
    desktop.application_title = u"before";
    try {
        TitleApply(desktop, u"NoBlankHere");
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), u"Invalid procedure call or argument");
    }
    EXPECT_EQ(desktop.application_title, u"before");
}

}  // namespace
}  // namespace ssr
