// The Qt window driven through its widgets: layout, bindings and each button.
#include "main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QFontInfo>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>

#include "application/appearance.h"
#include "application/button_colours.h"
#include "doubles/memory_registry.h"
#include "doubles/recording_skin_engine.h"
#include "doubles/scripted_desktop.h"
#include "operations/operations.h"
#include "platform/failure.h"
#include "platform/qt/entry_list_model.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/system_colours.h"
#include "platform/registry.h"
#include "platform/wine/wine_registry.h"
#include "steps/error_report.h"

namespace ssr {
namespace {

const Text kUninstall = kUninstallKeyPath;

struct WindowFixture : ::testing::Test {
    MemoryRegistry registry;
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    std::unique_ptr<Form1> form;
    std::unique_ptr<MainWindow> window;

    void Make(SkinEngine* skin_engine = nullptr) {
        form = std::make_unique<Form1>(registry, desktop, skin_engine ? *skin_engine : skin);
        window = std::make_unique<MainWindow>(*form);
    }
    void AddEntry(TextView key, TextView name, TextView command) {
        registry.SetText(kUninstall + u"\\" + Text(key), u"DisplayName", name);
        registry.SetText(kUninstall + u"\\" + Text(key), u"UninstallString", command);
    }
    void ShowLoaded() {
        window->Start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    [[nodiscard]] int Px(int twips) const { return design::Pixels(twips, window->Dpi()); }
    [[nodiscard]] std::vector<Text> Reports() const {
        std::vector<Text> reports;
        for (const auto& box : desktop.boxes)
            if (box.kind == ScriptedDesktop::Box::Kind::Message && box.style == kVbExclamation &&
                box.caption == Text(kErrorReportCaption))
                reports.push_back(box.prompt);
        return reports;
    }
};

// ---- The design table, control by control.

struct ControlCase {
    std::string name;
};

class Controls : public WindowFixture, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(Controls, StandWhereTheDesignSaysWithItsCaptionFontAndHint) {
    Make();
    const ControlDesign* design = design::FindControl(GetParam().name);
    ASSERT_NE(design, nullptr);
    QWidget* widget = window->Control(design->name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), window.get());
    EXPECT_EQ(widget->geometry(), QRect(Px(design->rect.left), Px(design->rect.top), Px(design->rect.width),
                                        Px(design->rect.height)));
    const FontDesign& font = design->kind == ControlKind::ListView ? design::kListFont : design::kButtonFont;
    EXPECT_EQ(widget->font().family(), QString::fromLatin1(font.face.data(), static_cast<qsizetype>(font.face.size())));
    EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), font.points);
    EXPECT_EQ(widget->font().bold(), font.bold);
    // The font really found, metric-compatible with the designed one.
    EXPECT_TRUE(QStringList({"Arial", "Liberation Sans"}).contains(QFontInfo(widget->font()).family()))
        << QFontInfo(widget->font()).family().toStdString();

    if (design->kind == ControlKind::PushButton) {
        auto* button = qobject_cast<QPushButton*>(widget);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), ToQString(design->caption));
        EXPECT_FALSE(button->text().contains('&'));
        EXPECT_TRUE(button->toolTip().isEmpty());
        EXPECT_EQ(button->palette().color(QPalette::Button), QColor(Qt::white));
        EXPECT_EQ(button->palette().color(QPalette::ButtonText), QApplication::palette().color(QPalette::ButtonText));
    } else {
        EXPECT_EQ(widget->toolTip(), ToQString(design::kListHint));
    }
}

INSTANTIATE_TEST_SUITE_P(Design, Controls,
                         ::testing::Values(ControlCase{"PushButton4"}, ControlCase{"ListView1"},
                                           ControlCase{"PushButton3"}, ControlCase{"PushButton5"},
                                           ControlCase{"PushButton6"}, ControlCase{"PushButton2"},
                                           ControlCase{"PushButton1"}),
                         [](const auto& info) { return info.param.name; });

TEST_F(WindowFixture, WindowIsFixedWhiteAndCannotBeMaximized) {
    Make();
    const QSize client(Px(design::kClientWidth), Px(design::kClientHeight));
    EXPECT_EQ(window->size(), client);
    EXPECT_EQ(window->minimumSize(), client);
    EXPECT_EQ(window->maximumSize(), client);
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(window->toolTip().isEmpty());
    // Only the six buttons and the list take a place.
    EXPECT_EQ(window->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly).size(), 6);
    EXPECT_EQ(window->findChildren<QTreeView*>().size(), 1);
}

TEST_F(WindowFixture, ListShowsCheckBoxesWithoutTreeDecoration) {
    Make();
    QTreeView* list = window->ListView1();
    EXPECT_FALSE(list->rootIsDecorated());
    EXPECT_TRUE(list->uniformRowHeights());
    EXPECT_EQ(list->model(), &window->Model());
}

TEST_F(WindowFixture, FocusStartsOnTheListAndTabFollowsTheDesign) {
    Make();
    ShowLoaded();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), window->ListView1());

    std::vector<const ControlDesign*> order;
    for (const ControlDesign& c : design::kControls)
        if (c.tab_index >= 0) order.push_back(&c);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->tab_index < b->tab_index; });
    ASSERT_EQ(order.front()->name, "ListView1");
    for (std::size_t step = 1; step <= order.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const ControlDesign* expected = order[step % order.size()];
        EXPECT_EQ(QApplication::focusWidget(), window->Control(expected->name))
            << "after " << step << " Tab presses, expected " << expected->name;
    }
}

// ---- Form_Load through the window.

TEST_F(WindowFixture, LoadSetsCaptionIconTitleAndTheListColumns) {
    AddEntry(u"A", u"Alpha", u"\"C:\\Program Files\\Alpha\\unins000.exe\" /S");
    AddEntry(u"B", u"Beta", u"MsiExec.exe /X{12}");
    Make();
    window->Load();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), ToQString(design::kProductTitle));
    EXPECT_EQ(window->windowTitle().size(), 59);
    EXPECT_EQ(desktop.application_title, u"Sweep Stale Records Out Of The Installed");
    QList<QSize> sizes = window->windowIcon().availableSizes();
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    EXPECT_EQ(sizes, QList<QSize>({{32, 32}, {48, 48}, {128, 128}, {256, 256}}));

    EXPECT_EQ(window->Model().rowCount(), 2);
    const QHeaderView* header = window->ListView1()->header();
    ASSERT_EQ(header->count(), 5);
    EXPECT_EQ(header->sectionSize(0), Px(7000));
    for (int column = 1; column < 5; ++column) EXPECT_EQ(header->sectionSize(column), 0) << column;
    EXPECT_TRUE(Reports().empty());
}

// The whole start-up with 30,000 records: the listing, the model and the view.
// The time is printed for the notes; a test never asserts one.
TEST_F(WindowFixture, ThirtyThousandRecordsAreListedAndShown) {
    for (int i = 0; i < 30000; ++i)
        AddEntry(u"Key" + DecimalText(i), u"Program " + DecimalText(i), u"\"C:\\Apps\\" + DecimalText(i) + u"\\u.exe\" /S");
    Make();
    QElapsedTimer timer;
    timer.start();
    ShowLoaded();
    QApplication::processEvents();
    std::printf("[ figures ] 30000 records: Form_Load and the window shown in %lld ms\n",
                static_cast<long long>(timer.elapsed()));
    EXPECT_EQ(window->Model().rowCount(), 30000);
    EXPECT_TRUE(Reports().empty());

    // Check the names holding a "5" by Select by text, then remove them.
    desktop.input_answers = {u"5"};
    timer.restart();
    QTest::mouseClick(window->PushButton(5), Qt::LeftButton);
    QApplication::processEvents();
    const qint64 checked = timer.restart();
    const int rows = window->Model().rowCount();
    QTest::mouseClick(window->PushButton(2), Qt::LeftButton);
    QApplication::processEvents();
    const qint64 removed = timer.elapsed();
    std::printf("[ figures ] 30000 records: %d checked by text in %lld ms, removed in %lld ms\n",
                rows - window->Model().rowCount(), static_cast<long long>(checked), static_cast<long long>(removed));
    EXPECT_EQ(window->Model().rowCount(), form->ListView1().Count());
}

// The same from a prefix's system.reg, as the program reads it.
TEST(WindowOnAPrefix, ThirtyThousandRecordsFromSystemReg) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile hive(dir.filePath("system.reg"));
    ASSERT_TRUE(hive.open(QIODevice::WriteOnly));
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    for (int i = 0; i < 30000; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Key" + n +
                "] 1700000000\n#time=1d9a0b0c0d0e0f0\n\"DisplayName\"=\"Program " + n +
                "\"\n\"UninstallString\"=\"\\\"C:\\\\Apps\\\\" + n + "\\\\u.exe\\\" /S\"\n";
    }
    hive.write(text);
    hive.close();

    const std::filesystem::path prefix = dir.path().toStdString();
    WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(prefix));
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    MainWindow window(form);
    QElapsedTimer timer;
    timer.start();
    window.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    std::printf("[ figures ] 30000 records in system.reg: Form_Load and the window shown in %lld ms\n",
                static_cast<long long>(timer.elapsed()));
    EXPECT_EQ(window.Model().rowCount(), 30000);
    const QString n = ToQString(form.ListView1().SubItem(30000, 3)).mid(3);  // "Key<n>"
    EXPECT_EQ(ToQString(form.ListView1().SubItem(30000, 1)), "\"C:\\Apps\\" + n + "\\u.exe\" /S");
}

TEST_F(WindowFixture, TheDesignIconUntilLoadGivesAllFour) {
    Make();
    EXPECT_EQ(window->windowIcon().availableSizes(), QList<QSize>({{32, 32}}));
}

TEST_F(WindowFixture, ABadPointerFileIsReportedAtLine106AndStartUpGoesOn) {
    AddEntry(u"A", u"Alpha", u"C:\\a.exe");
    desktop.existing_paths.insert(desktop.application_folder + kPointerFile);  // there, but not a cursor
    Make();
    window->Load();
    const std::vector<Text> reports = Reports();
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports.front(), ComposeApplicationError(location::kFormLoad, 106, kInvalidPicture));
    EXPECT_EQ(window->windowTitle(), ToQString(design::kProductTitle));
    EXPECT_EQ(window->Model().rowCount(), 1);
    EXPECT_EQ(form->MouseIcon(), nullptr);
}

struct RefusingSkin final : SkinEngine {
    void LoadSkin(TextView, TextView) override { throw Failure(u"The skin file could not be loaded"); }
    std::int32_t Options() override { return 0; }
    void SetOptions(std::int32_t) override {}
    void SetMember5(bool) override {}
    void SetMember10(bool) override {}
    void ApplyWindow(std::int32_t) override {}
};

TEST_F(WindowFixture, AFailingSkinIsReportedAtLine100AndStartUpGoesOn) {
    AddEntry(u"A", u"Alpha", u"C:\\a.exe");
    desktop.plain_files.insert(desktop.application_folder + kSkinFile);
    RefusingSkin refusing;
    Make(&refusing);
    window->Load();
    const std::vector<Text> reports = Reports();
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports.front(), ComposeApplicationError(location::kFormLoad, 100, u"The skin file could not be loaded"));
    // The background was set before the skin failed, and stays.
    EXPECT_EQ(window->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(window->windowTitle(), ToQString(design::kProductTitle));
    EXPECT_EQ(window->Model().rowCount(), 1);
}

TEST_F(WindowFixture, WithoutTheUninstallKeyTheListIsEmptyAndNothingIsSaid) {
    Make();
    ShowLoaded();
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(window->Model().rowCount(), 0);
    EXPECT_EQ(window->Model().columnCount(), 5);
}

TEST_F(WindowFixture, EveryReportComesBeforeTheWindowIsShown) {
    desktop.existing_paths.insert(desktop.application_folder + kPointerFile);
    std::vector<bool> visible_at_report;
    desktop.on_box = [&](const ScriptedDesktop::Box&) { visible_at_report.push_back(window->isVisible()); };
    Make();
    ShowLoaded();
    ASSERT_EQ(visible_at_report.size(), 1U);
    EXPECT_FALSE(visible_at_report.front());
    EXPECT_TRUE(window->isVisible());
}

// The promotion through the real Qt desktop, with numbers from the test.
struct PromotionCase {
    std::string name;
    double rnd;
    bool starts;
};

struct QueuedRandom final : RandomSource {
    double value;
    explicit QueuedRandom(double v) : value(v) {}
    void Seed(std::uint64_t) override {}
    double Next() override { return value; }
};
struct KeptLaunches final : ProcessLauncher {
    std::vector<LaunchRequest>* kept;
    explicit KeptLaunches(std::vector<LaunchRequest>* k) : kept(k) {}
    bool StartDetached(const LaunchRequest& request) override {
        kept->push_back(request);
        return true;
    }
    bool StartWatched(const LaunchRequest& request, ProcessWatch) override { return StartDetached(request); }
};

class Promotion : public ::testing::TestWithParam<PromotionCase> {};

TEST_P(Promotion, OpensTheHomePageOnSevenOnly) {
    std::vector<LaunchRequest> launches;
    QtDesktop qt_desktop(std::make_shared<const wine::Prefix>("/nonexistent-prefix"),
                         std::make_unique<QueuedRandom>(GetParam().rnd), std::make_unique<KeptLaunches>(&launches));
    MemoryRegistry registry;
    RecordingSkinEngine skin;
    Form1 form(registry, qt_desktop, skin);
    MainWindow window(form);
    window.Load();
    if (GetParam().starts) {
        ASSERT_EQ(launches.size(), 1U);
        EXPECT_EQ(launches.front().program, "xdg-open");
        EXPECT_EQ(launches.front().arguments, std::vector<std::string>{ToUtf8(kHomePageAddress)});
    } else {
        EXPECT_TRUE(launches.empty());
    }
    EXPECT_EQ(window.windowTitle(), ToQString(design::kProductTitle));
}

INSTANTIATE_TEST_SUITE_P(Draws, Promotion,
                         ::testing::Values(PromotionCase{"One", 0.0, false}, PromotionCase{"Six", 0.05999, false},
                                           PromotionCase{"SevenLow", 0.06, true},
                                           PromotionCase{"SevenHigh", 0.0699999, true},
                                           PromotionCase{"Eight", 0.07, false},
                                           PromotionCase{"Hundred", 0.9999999, false}),
                         [](const auto& info) { return info.param.name; });

// ---- Routing: each button reaches its own handler, and nothing else happens.

class Buttons : public WindowFixture, public ::testing::WithParamInterface<int> {};

TEST_P(Buttons, ClickReachesItsHandler) {
    AddEntry(u"Gone", u"Gone App", u"C:\\gone\\unins.exe /S");
    Make();
    ShowLoaded();
    window->Model().list().SetSelected(1, true);
    window->Model().list().SetChecked(1, true);
    QTest::mouseClick(window->PushButton(GetParam()), Qt::LeftButton);

    const auto count = [&](ScriptedDesktop::Box::Kind kind) {
        return std::count_if(desktop.boxes.begin(), desktop.boxes.end(), [&](const auto& b) { return b.kind == kind; });
    };
    const bool key_gone = !registry.KeyExists(kUninstall + u"\\Gone");
    switch (GetParam()) {
        case 1:  // uninstall the selected entry
            ASSERT_EQ(desktop.shell_calls.size(), 1U);
            EXPECT_EQ(desktop.shell_calls.front().parameters, u"/S");
            EXPECT_FALSE(key_gone);
            break;
        case 2:  // remove the checked entries
            EXPECT_TRUE(key_gone);
            EXPECT_EQ(window->Model().rowCount(), 0);
            break;
        case 3:  // suggest: asks the file system about the entry
            EXPECT_FALSE(desktop.queried_paths.empty());
            EXPECT_FALSE(key_gone);
            break;
        case 4:  // help
            ASSERT_EQ(desktop.MessageTexts().size(), 1U);
            EXPECT_EQ(desktop.MessageTexts().front(), HelpText());
            break;
        case 5:
        case 6:  // select by text
            EXPECT_EQ(count(ScriptedDesktop::Box::Kind::Input), 1);
            EXPECT_FALSE(key_gone);
            break;
    }
    if (GetParam() != 4) {
        EXPECT_EQ(count(ScriptedDesktop::Box::Kind::Message), 0);
    }
    if (GetParam() != 1) {
        EXPECT_TRUE(desktop.shell_calls.empty());
    }
    if (GetParam() < 5) {
        EXPECT_EQ(count(ScriptedDesktop::Box::Kind::Input), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(AllSix, Buttons, ::testing::Range(1, 7),
                         [](const auto& info) { return "PushButton" + std::to_string(info.param); });

TEST_F(WindowFixture, UsersCheckBoxClickAndSelectionReachTheList) {
    AddEntry(u"A", u"Alpha", u"C:\\a.exe");
    AddEntry(u"B", u"Beta", u"C:\\b.exe");
    Make();
    ShowLoaded();
    QTreeView* list = window->ListView1();
    const QModelIndex second = window->Model().index(1, 0);

    QStyleOptionViewItem option;
    option.initFrom(list->viewport());
    option.rect = list->visualRect(second);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QPoint box = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    EXPECT_TRUE(form->ListView1().Checked(2));
    EXPECT_FALSE(form->ListView1().Checked(1));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(window->Model().index(0, 0)).center());
    EXPECT_TRUE(form->ListView1().Selected(1));
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(form->ListView1().Checked(1));
}

// ---- The list keyboard: the row a key makes current is the selected one,
// the one Uninstall starts.

struct KeyCase {
    const char* behaviour;
    int current_before;  // 0-based row made current without selecting it; -1: as the window starts
    Qt::Key key;
    int expected;  // 1-based position
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.behaviour; }

class ListKeys : public WindowFixture, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ListKeys, SelectTheRowTheyMakeCurrent) {
    for (const Text name : {u"Alpha", u"Bravo", u"Charlie", u"Delta"})
        AddEntry(name, name, u"C:\\" + name + u".exe /" + name);
    Make();
    ShowLoaded();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTreeView* list = window->ListView1();
    ASSERT_EQ(QApplication::focusWidget(), list);
    ASSERT_EQ(window->Model().rowCount(), 4);
    if (GetParam().current_before >= 0)
        list->selectionModel()->setCurrentIndex(window->Model().index(GetParam().current_before, 0),
                                                QItemSelectionModel::NoUpdate);

    QTest::keyClick(list, GetParam().key);

    const int expected = GetParam().expected;
    EXPECT_EQ(list->currentIndex().row() + 1, expected);
    for (int position = 1; position <= 4; ++position)
        EXPECT_EQ(form->ListView1().Selected(position), position == expected) << "row " << position;
    QTest::mouseClick(window->PushButton(1), Qt::LeftButton);
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    EXPECT_EQ(desktop.shell_calls.front().parameters, u"/" + form->ListView1().ItemText(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ListKeys,
    ::testing::Values(KeyCase{"HomeOnTheFirstRowAtStart", -1, Qt::Key_Home, 1},
                      KeyCase{"EndFromTheStart", -1, Qt::Key_End, 4},
                      KeyCase{"DownFromTheStart", -1, Qt::Key_Down, 2},
                      KeyCase{"UpFromTheThirdRow", 2, Qt::Key_Up, 2},
                      KeyCase{"UpOnTheFirstRowStaysAndSelects", 0, Qt::Key_Up, 1},
                      KeyCase{"PageDownFromTheStart", -1, Qt::Key_PageDown, 4},
                      KeyCase{"PageUpFromTheLastRow", 3, Qt::Key_PageUp, 1},
                      KeyCase{"TypeAheadFindsTheRowByItsName", -1, Qt::Key_C, 3},
                      KeyCase{"TypeAheadOnTheCurrentRow", 1, Qt::Key_B, 2}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST_F(WindowFixture, RestingOnTheListShowsTheHintAndOnAButtonNone) {
    AddEntry(u"A", u"Alpha", u"C:\\a.exe");
    Make();
    ShowLoaded();
    QTreeView* list = window->ListView1();
    const auto hint_at = [](QWidget* widget, QPoint at) {
        QToolTip::hideText();  // fades out: wait until it is gone
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000)) return QStringLiteral("stuck");
        QHelpEvent event(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    const QString hint = ToQString(design::kListHint);
    // On a row, the hint also says where the row's record lives, its whole
    // name, its command and what Suggest's test says.
    EXPECT_EQ(hint_at(list->viewport(), list->visualRect(window->Model().index(0, 0)).center()),
              hint + QStringLiteral("\n64-bit: A\nAlpha\nC:\\a.exe\nnot found: c:\\a.exe"));
    EXPECT_EQ(hint_at(list->viewport(), QPoint(20, list->viewport()->height() - 5)), hint);  // below the rows
    EXPECT_EQ(hint_at(list->header()->viewport(), QPoint(20, 5)), hint);
    for (int number = 1; number <= 6; ++number) EXPECT_EQ(hint_at(window->PushButton(number), QPoint(5, 5)), QString());
    EXPECT_EQ(hint_at(window.get(), QPoint(2, 2)), QString());
}

TEST_F(WindowFixture, ColumnsOfWidthZeroCanBeDraggedOpen) {
    AddEntry(u"A", u"Alpha", u"\"C:\\Program Files\\Alpha\\unins000.exe\" /S");
    Make();
    ShowLoaded();
    QHeaderView* header = window->ListView1()->header();
    QWidget* surface = header->viewport();
    const int divider = header->sectionViewportPosition(0) + header->sectionSize(0);
    const int y = header->height() / 2;
    const auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(x, y), surface->mapToGlobal(QPointF(x, y)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(surface, &event);
    };
    send(QEvent::MouseButtonPress, divider + 1, Qt::LeftButton);
    send(QEvent::MouseMove, divider + 41, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, divider + 41, Qt::NoButton);
    EXPECT_EQ(header->sectionSize(0), Px(7000));
    EXPECT_EQ(header->sectionSize(4), 40);  // the last hidden column, Location, came out first
}

// ---- Themes: with a dark palette every caption still reads on its face,
// and the list takes the palette's window colours.

class DarkTheme : public WindowFixture, public ::testing::WithParamInterface<std::string> {
protected:
    void TearDown() override { QApplication::setPalette(m_light); }
    QPalette m_light = QApplication::palette();
};

TEST_P(DarkTheme, KeepsTheControlReadable) {
    QPalette dark = m_light;
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    dark.setColor(QPalette::Text, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(dark);
    Make();
    ShowLoaded();
    QWidget* control = window->Control(GetParam());
    ASSERT_NE(control, nullptr);
    if (control == window->ListView1()) {
        EXPECT_EQ(control->palette().color(QPalette::Base), dark.color(QPalette::Base));
        EXPECT_EQ(control->palette().color(QPalette::Text), dark.color(QPalette::Text));
        return;
    }
    EXPECT_EQ(control->palette().color(QPalette::Button), dark.color(QPalette::Button));
    // What is drawn: the face beside the caption, and the caption's strongest pixel against it.
    const QImage shot = control->grab().toImage();
    const QColor face = shot.pixelColor(8, shot.height() / 2);
    double best = 1.0;
    for (int y = 4; y < shot.height() - 4; ++y)
        for (int x = shot.width() / 4; x < shot.width() * 3 / 4; ++x)
            best = std::max(best, ContrastRatio(ColourValue(face), ColourValue(shot.pixelColor(x, y))));
    EXPECT_GE(best, kReadableContrast) << "face " << face.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Controls, DarkTheme,
                         ::testing::Values("PushButton1", "PushButton2", "PushButton3", "PushButton4", "PushButton5",
                                           "PushButton6", "ListView1"),
                         [](const auto& info) { return info.param; });

// ---- Uninstall's outcome through the window, and the selection after rows leave.

struct OutcomeFixture : WindowFixture {
    void SetUp() override {
        AddEntry(u"A", u"Alpha", u"C:\\a.exe");
        AddEntry(u"B", u"Beta", u"C:\\b.exe");
        AddEntry(u"C", u"Gamma", u"C:\\c.exe");
        Make();
        ShowLoaded();
    }
    void ClickRow(int row) {
        QTreeView* list = window->ListView1();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(window->Model().index(row, 0)).center());
    }
    void ExpectNothingSelected() {
        EXPECT_TRUE(window->ListView1()->selectionModel()->selectedRows().isEmpty());
        for (int position = 1; position <= form->ListView1().Count(); ++position)
            EXPECT_FALSE(form->ListView1().Selected(position)) << "row " << position;
    }
};

TEST_F(OutcomeFixture, UninstallThatCannotStartWarnsNamingTheCommand) {
    desktop.shell_refusals[u"C:\\b.exe"] = u"The program file was not found.";
    ClickRow(1);
    QTest::mouseClick(window->PushButton(1), Qt::LeftButton);
    ASSERT_EQ(desktop.MessageTexts().size(), 1U);
    EXPECT_EQ(desktop.MessageTexts()[0], UninstallStartFailureMessage(u"Beta", u"C:\\b.exe", u"The program file was not found."));
}

TEST_F(OutcomeFixture, EndedUninstallerTakesItsGoneRowAwayAndSelectsNoOther) {
    ClickRow(1);
    QTest::mouseClick(window->PushButton(1), Qt::LeftButton);
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kUninstall + u"\\B"), kErrorSuccess);
    desktop.shell_calls[0].ended(ShellStart{true, {}});
    EXPECT_EQ(window->Model().rowCount(), 2);
    EXPECT_EQ(window->Model().index(1, 0).data().toString(), QStringLiteral("Gamma"));
    ExpectNothingSelected();
}

TEST_F(OutcomeFixture, RemoveSelectsNoOtherRow) {
    ClickRow(1);
    form->ListView1().SetChecked(2, true);
    QTest::mouseClick(window->PushButton(2), Qt::LeftButton);
    EXPECT_EQ(window->Model().rowCount(), 2);
    ExpectNothingSelected();
    QTest::mouseClick(window->PushButton(1), Qt::LeftButton);
    EXPECT_TRUE(desktop.shell_calls.empty()) << "Uninstall starts nothing the user did not pick";
}

// ---- Pointer feedback.

TEST_F(WindowFixture, PointerRulesOverButtonsListAndSurface) {
    Make();
    ShowLoaded();
    QPushButton* button = window->PushButton(3);
    QTreeView* list = window->ListView1();

    QTest::mouseMove(button, button->rect().center());
    EXPECT_EQ(form->MousePointer(), kPointerCustom);
    EXPECT_EQ(window->cursor().shape(), Qt::PointingHandCursor);  // no hand picture was loaded
    EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);

    QTest::mouseMove(window->PushButton(5), QPoint(10, 10));
    EXPECT_EQ(form->MousePointer(), kPointerCustom);

    QTest::mouseMove(list->viewport(), QPoint(20, 20));
    EXPECT_EQ(form->MousePointer(), kPointerDefault);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);

    QTest::mouseMove(button, QPoint(5, 5));
    QTest::mouseMove(window.get(), QPoint(2, 2));  // the margin around the controls
    EXPECT_EQ(form->MousePointer(), kPointerDefault);

    form->SetMousePointer(kPointerHourglass);
    EXPECT_EQ(window->cursor().shape(), Qt::WaitCursor);
    QTest::mouseMove(button, QPoint(6, 6));
    QTest::mouseMove(list->viewport(), QPoint(21, 21));
    QTest::mouseMove(window.get(), QPoint(3, 3));
    EXPECT_EQ(form->MousePointer(), kPointerHourglass);
}

TEST_F(WindowFixture, TheLoadedHandPictureShowsOverButtons) {
    Make();
    ShowLoaded();
    QPixmap picture(32, 32);
    picture.fill(Qt::red);
    form->SetMouseIcon(std::make_shared<QtPointer>(QCursor(picture, 7, 3)));
    QTest::mouseMove(window->PushButton(1), QPoint(5, 5));
    EXPECT_EQ(window->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(window->cursor().hotSpot(), QPoint(7, 3));
}

TEST_F(WindowFixture, BackColourOfTheWindowResolvesSystemColours) {
    Make();
    form->SetBackColor(kSystemButtonFace);
    EXPECT_EQ(window->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
    form->SetBackColor(0x00336699);  // 0x00BBGGRR
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0x99, 0x66, 0x33));
}

TEST(WindowClose, ClosingEndsTheProcessAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QtDesktop desktop(std::make_shared<const wine::Prefix>("/nonexistent-prefix"));
            MemoryRegistry registry;
            RecordingSkinEngine skin;
            Form1 form(registry, desktop, skin);
            MainWindow window(form);
            window.show();
            window.close();
            std::exit(3);  // not reached when closing ends the process
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ssr
