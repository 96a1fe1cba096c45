// What the Linux program does before its window: the command line, the
// display check and its exit codes (run as the real program), the prefix
// chooser, and the open prefix named on stderr and in the list's hint.

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "application/appearance.h"
#include "command_line.h"
#include "main_window.h"
#include "doubles/memory_registry.h"
#include "doubles/recording_skin_engine.h"
#include "doubles/scripted_desktop.h"
#include "prefix_chooser.h"

namespace ssr {
namespace {

namespace fs = std::filesystem;
using Action = CommandLineOptions::Action;

TEST(CommandLine, ReadsOnePathAnActionAndItsOptions) {
    struct Row {
        std::vector<std::string> arguments;
        Action action;
        std::optional<fs::path> prefix;
        std::vector<std::string> keys = {};
    };
    const Row rows[] = {
        {{}, Action::Run, std::nullopt},
        {{"/p/games"}, Action::Run, fs::path("/p/games")},
        {{"--help"}, Action::Help, std::nullopt},
        {{"-h"}, Action::Help, std::nullopt},
        {{"/p", "--version"}, Action::Version, std::nullopt},
        {{"--choose"}, Action::Choose, std::nullopt},
        {{"--choose", "/p"}, Action::Usage, std::nullopt},
        {{"--", "-dash-folder"}, Action::Run, fs::path("-dash-folder")},
        {{"-"}, Action::Run, fs::path("-")},
        {{"--verbose"}, Action::Usage, std::nullopt},
        {{"-platform", "offscreen"}, Action::Usage, std::nullopt},  // Qt's own options are not ours
        {{"/a", "/b"}, Action::Usage, std::nullopt},
        {{""}, Action::Usage, std::nullopt},
        {{"/p", "--list", "--json"}, Action::List, fs::path("/p")},
        {{"--all", "--stale"}, Action::Stale, std::nullopt},
        {{"/p", "--remove", "A", "HKEY_CURRENT_USER\\X\\B", "--dry-run"}, Action::Remove, fs::path("/p"),
         {"A", "HKEY_CURRENT_USER\\X\\B"}},
        {{"--remove-stale", "--all", "--dry-run"}, Action::RemoveStale, std::nullopt},
        {{"--restore", "/b/Removed records.reg", "--force"}, Action::Restore, std::nullopt},
        {{"--remove"}, Action::Usage, std::nullopt},             // no key
        {{"--remove", ""}, Action::Usage, std::nullopt},         // an empty key names nothing
        {{"/p", "--remove", "--", "-dash", "--list"}, Action::Remove, fs::path("/p"), {"-dash", "--list"}},
        {{"--remove", "A", "--", "-b"}, Action::Remove, std::nullopt, {"A", "-b"}},
        {{"--remove", "-dash"}, Action::Usage, std::nullopt},    // an option, without "--"
        {{"--restore"}, Action::Usage, std::nullopt},            // no file
        {{"--list", "--stale"}, Action::Usage, std::nullopt},    // one action at a time
        {{"--all", "/p", "--list"}, Action::Usage, std::nullopt},
        {{"--all", "--remove", "A"}, Action::Usage, std::nullopt},  // keys name records of one prefix
        {{"--all", "--backups"}, Action::Usage, std::nullopt},     // backups belong to one prefix
        {{"--json"}, Action::Usage, std::nullopt},               // the window has no JSON
        {{"--list", "--force"}, Action::Usage, std::nullopt},
    };
    for (const Row& row : rows) {
        const CommandLineOptions options = ParseCommandLine(row.arguments);
        std::string name;
        for (const std::string& argument : row.arguments) name += argument + " ";
        EXPECT_EQ(options.action, row.action) << name;
        EXPECT_EQ(options.prefix, row.prefix) << name;
        EXPECT_EQ(options.keys, row.keys) << name;
        EXPECT_EQ(options.problem.empty(), row.action != Action::Usage) << name;
    }
}

TEST(CommandLine, ADisplayIsWhatQtWouldReach) {
    struct Row {
        const char* name;
        std::map<std::string, std::string> environment;
        bool display;
    };
    const Row rows[] = {
        {"nothing set", {}, false},
        {"X11", {{"DISPLAY", ":0"}}, true},
        {"Wayland", {{"WAYLAND_DISPLAY", "wayland-0"}}, true},
        {"empty DISPLAY", {{"DISPLAY", ""}}, false},
        {"offscreen needs no server", {{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {"offscreen with options", {{"QT_QPA_PLATFORM", "offscreen:size=800x600"}}, true},
        {"xcb without DISPLAY", {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "w"}}, false},
        {"wayland without its socket", {{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}}, false},
        {"fallback list", {{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":0"}}, true},
    };
    for (const Row& row : rows) {
        const auto lookup = [&row](const char* name) -> const char* {
            const auto it = row.environment.find(name);
            return it == row.environment.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(HasDisplay(lookup), row.display) << row.name;
    }
}

struct ProgramRun {
    int exit_code = -1;
    QString out;
    QString err;
};

// The real program with `arguments`, in an environment without any display.
ProgramRun RunWithoutDisplay(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SSR_PROGRAM), arguments);
    process.waitForFinished(20000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

TEST(Program, ExitCodesAndMessagesWithoutADisplay) {
    struct Row {
        QStringList arguments;
        int exit_code;
        const char* out_starts;  // nullptr: nothing on stdout
        const char* err_contains;  // nullptr: nothing on stderr
    };
    const Row rows[] = {
        {{"--help"}, 0, "Usage: sweep-stale-records [PREFIX]\n", nullptr},
        {{"--version"}, 0, "sweep-stale-records 1.", nullptr},
        {{"--frobnicate"}, 2, nullptr, "unknown option '--frobnicate'"},
        {{"/a", "/b"}, 2, nullptr, "more than one prefix path"},
        {{}, 1, nullptr, "sweep-stale-records: no display"},
    };
    for (const Row& row : rows) {
        const ProgramRun run = RunWithoutDisplay(row.arguments);
        const std::string name = row.arguments.join(' ').toStdString();
        EXPECT_EQ(run.exit_code, row.exit_code) << name;
        if (row.out_starts) EXPECT_TRUE(run.out.startsWith(QString::fromUtf8(row.out_starts))) << name << run.out.toStdString();
        else EXPECT_TRUE(run.out.isEmpty()) << name;
        if (row.err_contains) {
            EXPECT_TRUE(run.err.contains(QString::fromUtf8(row.err_contains))) << name << run.err.toStdString();
            EXPECT_EQ(run.err.count(u'\n') == 1, row.exit_code == 1) << name << ": one line when it cannot show a window";
        } else {
            EXPECT_TRUE(run.err.isEmpty()) << name;
        }
    }
}

TEST(Program, NamesTheOpenPrefixOnStderr) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::ofstream(fs::path(dir.path().toStdString()) / "system.reg") << "WINE REGISTRY Version 2\n";
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("WINEPREFIX"), QStringLiteral("/nonexistent-the-argument-wins"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(SSR_PROGRAM), {QStringLiteral(".")});  // relative: named as the absolute path
    QString err;
    for (int i = 0; i < 100 && !err.contains(u'\n'); ++i) {
        process.waitForReadyRead(100);
        err += QString::fromUtf8(process.readAllStandardError());
    }
    process.kill();
    process.waitForFinished();
    EXPECT_TRUE(err.contains(QStringLiteral("sweep-stale-records: Wine prefix ") + QDir::cleanPath(dir.path()) + u'\n'))
        << err.toStdString();
}

struct ChooserFixture : ::testing::Test {
    QTemporaryDir dir;
    fs::path home;
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        home = dir.path().toStdString();
    }
    fs::path MakePrefix(const std::string& relative, int records, const char* header = "WINE REGISTRY Version 2\n") {
        const fs::path prefix = home / relative;
        fs::create_directories(prefix);
        std::ofstream reg(prefix / "system.reg");
        reg << header << "\n#arch=win64\n";
        for (int i = 0; i < records; ++i)
            reg << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App" << i << "] 1\n"
                << "\"DisplayName\"=\"App " << i << "\"\n\"UninstallString\"=\"C:\\\\u" << i << ".exe\"\n";
        return prefix;
    }
};

TEST_F(ChooserFixture, ListsFoundPrefixesWithTheirCountsAndOpensTheChosenOne) {
    MakePrefix(".wine-old", 3);
    MakePrefix(".wine-damaged", 2, "not a registry file\n");
    const fs::path steam = MakePrefix(".local/share/Steam/steamapps/compatdata/440/pfx", 5);
    std::ofstream(home / ".local/share/Steam/steamapps/appmanifest_440.acf") << "\"AppState\" { \"name\" \"Team Fortress 2\" }";
    PrefixChooser chooser(ChooserReason({home / ".wine", wine::PrefixSource::Home}, home), wine::DiscoverPrefixes(home),
                          home);
    QTreeWidget* list = chooser.List();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("~/.wine-old"));
    EXPECT_EQ(list->topLevelItem(2)->text(0), QStringLiteral("Team Fortress 2"));
    EXPECT_EQ(list->topLevelItem(2)->text(1), QStringLiteral("Steam"));
    EXPECT_FALSE(list->topLevelItem(2)->text(3).isEmpty());  // last change
    EXPECT_EQ(list->topLevelItem(2)->text(4), QStringLiteral("~/.local/share/Steam/steamapps/compatdata/440/pfx"));
    EXPECT_TRUE(QTest::qWaitFor([&chooser] { return chooser.Counted(); }, 5000));
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("?"));  // unreadable, not empty
    EXPECT_EQ(list->topLevelItem(1)->text(2), QStringLiteral("3"));
    EXPECT_EQ(list->topLevelItem(2)->text(2), QStringLiteral("5"));

    list->setCurrentItem(list->topLevelItem(2));
    chooser.OpenButton()->click();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.Chosen(), steam);
}

TEST_F(ChooserFixture, ASteamGamesFolderOpensItsPrefixAndTheFolderDialogShowsHiddenFolders) {
    const fs::path prefix = MakePrefix("compatdata/1091500/pfx", 0);
    PrefixChooser chooser({}, {}, home);
    QDir::Filters filter;
    QTimer::singleShot(0, [&filter] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            filter = dialog->filter();
            dialog->reject();
        }
    });
    chooser.OtherFolderButton()->click();
    EXPECT_TRUE(filter.testFlag(QDir::Hidden));
    chooser.ChooseFolder(home / "compatdata/1091500");
    EXPECT_EQ(chooser.Chosen(), prefix);
}

TEST_F(ChooserFixture, AnotherFolderMustBeAPrefixAndIsNeverCreated) {
    PrefixChooser chooser(ChooserReason({home / "typo", wine::PrefixSource::Argument}, home), {}, home);
    EXPECT_TRUE(chooser.List()->isHidden());
    QString warning;
    QTimer::singleShot(0, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    chooser.ChooseFolder(home / "typo");
    EXPECT_TRUE(warning.contains(QStringLiteral("is not a Wine prefix"))) << warning.toStdString();
    EXPECT_FALSE(chooser.Chosen().has_value());
    EXPECT_FALSE(fs::exists(home / "typo"));

    const fs::path other = MakePrefix("elsewhere", 0);
    chooser.ChooseFolder(other);
    EXPECT_EQ(chooser.Chosen(), other);
}

TEST(ChooserReason, SaysWhereThePrefixWasNamed) {
    const fs::path home = "/home/u";
    EXPECT_EQ(ChooserReason({"/home/u/.wine", wine::PrefixSource::Home}, home), QStringLiteral("There is no Wine prefix at ~/.wine."));
    EXPECT_TRUE(ChooserReason({"/srv/p", wine::PrefixSource::Environment}, home).startsWith(QStringLiteral("WINEPREFIX names /srv/p")));
    EXPECT_TRUE(ChooserReason({"/srv/p", wine::PrefixSource::Argument}, home).startsWith(QStringLiteral("/srv/p is not a Wine prefix")));
}

TEST(OpenPrefix, NamedInTheListsHintBelowTheDesignText) {
    MemoryRegistry registry;
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    MainWindow window(form);
    const QRect before = window.ListView1()->geometry();
    window.ShowPrefix(QStringLiteral("/home/u/.wine-games"));
    EXPECT_EQ(window.ListView1()->toolTip(),
              QStringLiteral("Move | line to right and out of window to reveal full names.\nWine prefix: /home/u/.wine-games"));
    EXPECT_EQ(window.ListView1()->viewport()->toolTip(), window.ListView1()->toolTip());
    EXPECT_EQ(window.ListView1()->geometry(), before);

    // Two windows told apart by their titles; the caption comes first.
    window.ShowCaption(u"Sweep");
    window.ShowPrefix(QStringLiteral("/home/u/.steam/steam/steamapps/compatdata/220/pfx"), QStringLiteral("Half-Life 2"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Sweep - Half-Life 2"));
    window.ShowCaption(u"Sweep again");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Sweep again - Half-Life 2"));
}

}  // namespace
}  // namespace ssr
