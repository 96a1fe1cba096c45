// The Linux desktop: boxes, started programs and files in the prefix.
#include "platform/qt/qt_desktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/wine/prefix/wine_prefix.h"

namespace ssr {
namespace {

// A random source that gives back what the test queued and keeps the seeds.
struct ScriptedRandom final : RandomSource {
    std::deque<double> values;
    std::vector<std::uint64_t>* seeds;
    explicit ScriptedRandom(std::vector<std::uint64_t>* s) : seeds(s) {}
    void Seed(std::uint64_t seed) override { seeds->push_back(seed); }
    double Next() override {
        const double v = values.empty() ? 0.0 : values.front();
        if (!values.empty()) values.pop_front();
        return v;
    }
};

// A launcher that starts nothing and keeps the requests.
struct RecordingLauncher final : ProcessLauncher {
    std::vector<LaunchRequest>* requests;
    bool succeed = true;
    explicit RecordingLauncher(std::vector<LaunchRequest>* r) : requests(r) {}
    std::vector<ProcessWatch> watchers;  // one per watched start, in order
    bool StartDetached(const LaunchRequest& request) override {
        requests->push_back(request);
        return succeed;
    }
    bool StartWatched(const LaunchRequest& request, ProcessWatch ended) override {
        requests->push_back(request);
        if (succeed) watchers.push_back(std::move(ended));
        return succeed;
    }
};

// Runs `act` on the modal dialog that the next call opens.
template <typename Dialog>
void WhenDialogOpens(std::function<void(Dialog*)> act) {
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, poll] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            act(dialog);
            return;
        }
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

struct DesktopFixture : ::testing::Test {
    QTemporaryDir dir;
    std::vector<LaunchRequest> requests;
    std::vector<std::uint64_t> seeds;
    ScriptedRandom* random = nullptr;
    RecordingLauncher* launcher = nullptr;
    std::unique_ptr<QtDesktop> desktop;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        auto r = std::make_unique<ScriptedRandom>(&seeds);
        auto l = std::make_unique<RecordingLauncher>(&requests);
        random = r.get();
        launcher = l.get();
        desktop =
            std::make_unique<QtDesktop>(std::make_shared<const wine::Prefix>(Prefix()), std::move(r), std::move(l));
    }
    std::filesystem::path Prefix() const { return std::filesystem::path(dir.path().toStdString()) / "prefix"; }
    std::filesystem::path Root() const { return dir.path().toStdString(); }
    static void Touch(const std::filesystem::path& path, const QByteArray& bytes = "x") {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
    }
    // The backslash form of a Linux path, as the core builds them.
    static Text Backslashed(const std::filesystem::path& path) {
        Text text = FromUtf8(path.string());
        for (char16_t& c : text)
            if (c == u'/') c = u'\\';
        return text;
    }
};

struct TextCase {
    std::string name;
    Text input;
    QString expected;
};

class MessageText : public ::testing::TestWithParam<TextCase> {};
TEST_P(MessageText, EndsLinesAtEveryCarriageReturn) { EXPECT_EQ(MessageBoxText(GetParam().input), GetParam().expected); }
INSTANTIATE_TEST_SUITE_P(
    LineEnds, MessageText,
    ::testing::Values(TextCase{"CrLf", u"a\r\nb", "a\nb"}, TextCase{"LoneCrs", u"a\r\rb", "a\n\nb"},
                      TextCase{"ReportShape", u"Overflow\r\nin X at line 106\r\rPlease", "Overflow\nin X at line 106\n\nPlease"},
                      TextCase{"LineFeedKept", u"a\nb", "a\nb"}, TextCase{"TrailingCr", u"a\r", "a\n"},
                      TextCase{"CrCrLf", u"a\r\r\nb", "a\n\nb"}, TextCase{"Plain", u"Help", "Help"}),
    [](const auto& info) { return info.param.name; });

struct ArgumentsCase {
    std::string name;
    Text parameters;
    QStringList expected;
};
class WindowsArguments : public ::testing::TestWithParam<ArgumentsCase> {};
TEST_P(WindowsArguments, SplitAsWindowsProgramsDo) {
    EXPECT_EQ(SplitWindowsArguments(GetParam().parameters), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Split, WindowsArguments,
    ::testing::Values(ArgumentsCase{"Empty", u"", {}}, ArgumentsCase{"Blanks", u"   ", {}},
                      ArgumentsCase{"Switches", u"/S  /norestart", {"/S", "/norestart"}},
                      ArgumentsCase{"QuotedPath", u"/X \"C:\\Program Files\\A b\" /q", {"/X", "C:\\Program Files\\A b", "/q"}},
                      ArgumentsCase{"QuoteInsideWord", u"/dir=\"C:\\a b\"", {"/dir=C:\\a b"}},
                      ArgumentsCase{"BackslashesKept", u"C:\\a\\b\\", {"C:\\a\\b\\"}},
                      ArgumentsCase{"EscapedQuote", u"say \\\"hi\\\"", {"say", "\"hi\""}},
                      ArgumentsCase{"EmptyQuoted", u"a \"\" b", {"a", "", "b"}},
                      ArgumentsCase{"Redirection", u"/c echo %1 > C:\\marker.txt", {"/c", "echo", "%1", ">", "C:\\marker.txt"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(DesktopFixture, ShellOpenRunsTheProgramUnderWineInThePrefix) {
    const ShellStart answer = desktop->ShellOpen(0, u"C:\\Program Files\\App\\unins000.exe",
                                                 u"/SILENT \"/LOG=C:\\a b.txt\"", FromUtf8(Root().string()),
                                                 ShowCommand::Normal, {});
    EXPECT_TRUE(answer.started);
    ASSERT_EQ(requests.size(), 1U);
    const LaunchRequest& r = requests.front();
    EXPECT_EQ(r.program, WineProgram(std::getenv("WINE")));
    EXPECT_EQ(r.arguments, (std::vector<std::string>{"C:\\Program Files\\App\\unins000.exe", "/SILENT", "/LOG=C:\\a b.txt"}));
    EXPECT_EQ(r.working_directory, Root().native());
    EXPECT_EQ(r.environment, (std::vector<std::pair<std::string, std::string>>{{"WINEPREFIX", Prefix().native()}}));
}

TEST_F(DesktopFixture, ShellOpenOfNothingStartsNothing) {
    EXPECT_FALSE(desktop->ShellOpen(0, u"", u"", u"", ShowCommand::Normal, {}).started);
    EXPECT_TRUE(requests.empty());
}

// A start that fails names what stopped it: the Wine of the variable, or the
// folder the uninstaller was to start in.
struct StartFailureCase {
    std::string behaviour;
    const char* folder;  // below the test's folder; nullptr: none given
    std::u16string reason_start;  // "<folder>" stands for the folder's path
};

class StartFailure : public DesktopFixture, public ::testing::WithParamInterface<StartFailureCase> {};

TEST_P(StartFailure, SaysWhatStoppedIt) {
    const QByteArray saved = qgetenv("WINE");
    const bool was_set = qEnvironmentVariableIsSet("WINE");
    qputenv("WINE", "/nonexistent/runner/wine");
    launcher->succeed = false;
    const Text folder = GetParam().folder ? FromUtf8((Root() / GetParam().folder).string()) : Text();
    const ShellStart answer = desktop->ShellOpen(0, u"x.exe", u"", folder, ShowCommand::Normal, {});
    if (was_set) qputenv("WINE", saved);
    else qunsetenv("WINE");
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests.front().program, "/nonexistent/runner/wine");
    EXPECT_FALSE(answer.started);
    Text expected = GetParam().reason_start;
    if (const std::size_t at = expected.find(u"<folder>"); at != Text::npos) expected.replace(at, 8, folder);
    EXPECT_TRUE(answer.reason.starts_with(expected)) << ToUtf8(answer.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Start, StartFailure,
    ::testing::Values(StartFailureCase{"WineOfTheVariableMissing", nullptr, u"Wine could not be started (\"/nonexistent/runner/wine\")"},
                      StartFailureCase{"WorkingFolderMissing", "gone",
                                       u"The folder <folder> to start the uninstaller in cannot be entered: "}),
    [](const auto& info) { return info.param.behaviour; });

// How the Wine of an Uninstall click ended, and what the click hears.
struct EndCase {
    std::string behaviour;
    ProcessOutcome outcome;
    bool started;  // false: heard as not started, at once
};

class ProgramEnd : public DesktopFixture, public ::testing::WithParamInterface<EndCase> {};

TEST_P(ProgramEnd, IsHeardOnceTheWineServerHasGone) {
    std::vector<ShellStart> heard;
    ASSERT_TRUE(desktop->ShellOpen(0, u"C:\\a.exe", u"", u"", ShowCommand::Normal,
                                   [&](const ShellStart& s) { heard.push_back(s); }).started);
    ASSERT_EQ(launcher->watchers.size(), 1U);
    launcher->watchers[0](GetParam().outcome);
    if (GetParam().started) {
        EXPECT_TRUE(heard.empty()) << "heard before the registry is on disk";
        ASSERT_EQ(launcher->watchers.size(), 2U);
        EXPECT_EQ(requests.back().arguments, std::vector<std::string>{"-w"});
        EXPECT_EQ(requests.back().environment, (std::vector<std::pair<std::string, std::string>>{{"WINEPREFIX", Prefix().native()}}));
        launcher->watchers[1](ProcessOutcome{});
    }
    ASSERT_EQ(heard.size(), 1U);
    EXPECT_EQ(heard[0].started, GetParam().started);
    EXPECT_EQ(heard[0].reason.empty(), GetParam().started) << ToUtf8(heard[0].reason);
}

using std::chrono::milliseconds;
INSTANTIATE_TEST_SUITE_P(
    Outcomes, ProgramEnd,
    ::testing::Values(
        EndCase{"RanAndEnded", {0, false, milliseconds(40000), "fixme:ver:GetCurrentPackageId\n"}, true},
        EndCase{"WineCouldNotOpenIt", {53, false, milliseconds(900), "wine: failed to open \"C:\\a.exe\": c0000135\n"}, false},
        EndCase{"WineCouldNotFindIt", {53, false, milliseconds(900), "0024:err:x\nwine: cannot find L\"C:\\a.exe\"\n"}, false},
        EndCase{"FailedQuietlyIsARun", {1, false, milliseconds(900), "err:module:import_dll\n"}, true},
        EndCase{"ComplaintAfterALongRunIsARun", {53, false, milliseconds(60000), "wine: failed to open x\n"}, true},
        EndCase{"NewPrefixNoticeIsNoFailure", {3, false, milliseconds(900), "wine: configuration in L\"/p\" has been updated.\n"}, true}),
    [](const auto& info) { return info.param.behaviour; });

// The real Wine of the test run, asked to start a program that is not there.
TEST(WineReferee, AProgramWineCannotOpenIsHeardAsNotStarted) {
    const QByteArray prefix = qgetenv("WINEPREFIX");
    if (prefix.isEmpty() || FindProgram(WineProgram(std::getenv("WINE")), std::getenv("PATH")).empty())
        GTEST_SKIP() << "needs the test run's Wine prefix (make test)";
    QtDesktop desktop(std::make_shared<const wine::Prefix>(prefix.toStdString()));
    std::optional<ShellStart> heard;
    const ShellStart answer = desktop.ShellOpen(0, u"C:\\ssr-nowhere\\unins000.exe", u"/S", u"", ShowCommand::Normal,
                                                [&](const ShellStart& s) { heard = s; });
    ASSERT_TRUE(answer.started) << "Wine itself starts";
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.has_value(); }, 60000));
    EXPECT_FALSE(heard->started);
    EXPECT_TRUE(Contains(heard->reason, u"wine: ")) << ToUtf8(heard->reason);
}

// A prefix whose folder's name is not UTF-8, with a Wine and a wineserver of
// its own (so $WINE's path is not UTF-8 either) that write down what they were
// started with. The real launcher starts them, as an Uninstall click does.
enum class Passed { Prefix, WorkingFolder, Wine, WineServer };
struct BytesCase {
    std::string path;
    const char* record;  // what the program wrote down: one line per thing it was given
    int line;
    Passed expected;
};

class PathBytes : public ::testing::TestWithParam<BytesCase> {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<QTemporaryDir>();
        const std::filesystem::path root = s_dir->path().toStdString();
        s_prefix = root / "pre\xff\xfe fix";
        s_records = root / "records";
        std::filesystem::create_directories(s_prefix / "drive_c" / "App");
        std::filesystem::create_directories(s_prefix / "dosdevices");
        std::filesystem::create_directory_symlink("../drive_c", s_prefix / "dosdevices" / "c:");
        std::filesystem::create_directories(s_prefix / "bin");
        std::filesystem::create_directories(s_records);
        s_wine = s_prefix / "bin" / "wine";
        s_server = s_prefix / "bin" / "wineserver";
        WriteScript(s_wine, "printf '%s\\n' \"$WINEPREFIX\" \"$(pwd -P)\" \"$0\" > '" + (s_records / "wine").native() + "'");
        WriteScript(s_server, "printf '%s\\n' \"$WINEPREFIX\" \"$0\" > '" + (s_records / "wineserver").native() + "'");

        const QByteArray saved_wine = qgetenv("WINE");
        const QByteArray saved_server = qgetenv("WINESERVER");
        qputenv("WINE", QByteArray::fromStdString(s_wine.native()));
        qunsetenv("WINESERVER");
        QtDesktop desktop(std::make_shared<const wine::Prefix>(s_prefix));
        std::optional<ShellStart> heard;
        const ShellStart answer = desktop.ShellOpen(0, u"C:\\App\\unins000.exe", u"/S", u"C:\\App", ShowCommand::Normal,
                                                    [&](const ShellStart& s) { heard = s; });
        s_started = answer.started && QTest::qWaitFor([&] { return heard.has_value(); }, 20000) && heard->started;
        if (saved_wine.isNull()) qunsetenv("WINE");
        else qputenv("WINE", saved_wine);
        if (!saved_server.isNull()) qputenv("WINESERVER", saved_server);
    }
    static void TearDownTestSuite() {
        // QTemporaryDir cannot name a folder that is not UTF-8 to remove it.
        std::error_code ignored;
        std::filesystem::remove_all(s_prefix, ignored);
        s_dir.reset();
    }

    static void WriteScript(const std::filesystem::path& path, const std::string& body) {
        std::ofstream(path, std::ios::binary) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    static std::string Expected(Passed passed) {
        switch (passed) {
            case Passed::Prefix: return s_prefix.native();
            case Passed::WorkingFolder: return std::filesystem::canonical(s_prefix / "drive_c" / "App").native();
            case Passed::Wine: return s_wine.native();
            case Passed::WineServer: return s_server.native();
        }
        return {};
    }
    static std::vector<std::string> Lines(const char* record) {
        std::ifstream file(s_records / record, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::filesystem::path s_prefix, s_records, s_wine, s_server;
    static inline bool s_started = false;
};

TEST_P(PathBytes, ReachWineAsTheyAreOnDisk) {
    ASSERT_TRUE(s_started) << "the stand-in Wine did not run to its end";
    const std::vector<std::string> lines = Lines(GetParam().record);
    ASSERT_GT(lines.size(), static_cast<std::size_t>(GetParam().line)) << GetParam().record << " wrote too little";
    EXPECT_EQ(lines[static_cast<std::size_t>(GetParam().line)], Expected(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    PrefixNotInUtf8, PathBytes,
    ::testing::Values(BytesCase{"PrefixToWine", "wine", 0, Passed::Prefix},
                      BytesCase{"WorkingFolder", "wine", 1, Passed::WorkingFolder},
                      BytesCase{"WineFromTheVariable", "wine", 2, Passed::Wine},
                      BytesCase{"PrefixToTheServerWaitedFor", "wineserver", 0, Passed::Prefix},
                      BytesCase{"ServerBesideThatWine", "wineserver", 1, Passed::WineServer}),
    [](const auto& info) { return info.param.path; });

// Started means the program itself runs: what cannot be run is not started.
struct StartCase {
    std::string behaviour;
    LaunchRequest request;  // "<marker>" stands for a file the program makes
    bool detached;
    bool started;
};

class RealLauncher : public ::testing::TestWithParam<StartCase> {};

TEST_P(RealLauncher, StartsOnlyWhatRuns) {
    QTemporaryDir dir;
    const std::string marker = (std::filesystem::path(dir.path().toStdString()) / "ran").native();
    LaunchRequest request = GetParam().request;
    for (std::string& argument : request.arguments)
        if (argument == "<marker>") argument = marker;
    QProcessLauncher launcher;
    bool ended = false;
    const bool started = GetParam().detached ? launcher.StartDetached(request)
                                             : launcher.StartWatched(request, [&](const ProcessOutcome&) { ended = true; });
    EXPECT_EQ(started, GetParam().started);
    if (!started) {
        QTest::qWait(50);
        EXPECT_FALSE(ended) << "a program that did not start was heard to end";
        return;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(marker); }, 10000));
    if (!GetParam().detached) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return ended; }, 10000));
    }
}

const LaunchRequest kMakesMarker{"sh", {"-c", ": > \"$0\"", "<marker>"}, {}, {}};
INSTANTIATE_TEST_SUITE_P(
    Starts, RealLauncher,
    ::testing::Values(StartCase{"WatchedFromPath", kMakesMarker, false, true},
                      StartCase{"DetachedFromPath", kMakesMarker, true, true},
                      StartCase{"MissingProgram", {"/nonexistent/ssr/wine", {}, {}, {}}, false, false},
                      StartCase{"NotInPath", {"ssr-no-such-program", {}, {}, {}}, true, false},
                      StartCase{"NotAProgram", {"/etc/hostname", {}, {}, {}}, false, false},
                      StartCase{"MissingWorkingFolder", {"/bin/sh", {"-c", "true"}, "/nonexistent/ssr", {}}, false, false},
                      StartCase{"DetachedInMissingWorkingFolder", {"/bin/sh", {"-c", "true"}, "/nonexistent/ssr", {}}, true, false}),
    [](const auto& info) { return info.param.behaviour; });

TEST_F(DesktopFixture, OwnFilesBesideTheBuiltProgramOrInTheInstalledShareFolder) {
    const std::filesystem::path root = Root();
    std::filesystem::create_directories(root / "usr/share/sweep-stale-records");
    std::filesystem::create_directories(root / "opt/bin");
    EXPECT_EQ(ProgramFilesFolder(root / "usr/bin/sweep-stale-records"), root / "usr/share/sweep-stale-records");
    EXPECT_EQ(ProgramFilesFolder(root / "opt/bin/sweep-stale-records"), root / "opt/bin");  // no share folder
    EXPECT_EQ(ProgramFilesFolder(root / "dist/sweep-stale-records"), root / "dist");
}

TEST(WineProgram, TheVariableWinsOverWineFromPath) {
    struct Row {
        const char* value;  // nullptr: WINE unset
        std::string expected;
    };
    for (const Row& row : {Row{nullptr, "wine"}, Row{"", "wine"}, Row{"/opt/runners/wine-ge/bin/wine", "/opt/runners/wine-ge/bin/wine"}})
        EXPECT_EQ(WineProgram(row.value), row.expected) << (row.value ? row.value : "unset");
}

TEST_F(DesktopFixture, HomePageOpensInTheBrowser) {
    const Text command = desktop->HomePageCommandLine(u"https://example.test/page");
    EXPECT_EQ(command, u"xdg-open https://example.test/page");
    desktop->StartCommand(command, ShowCommand::MinimizedFocus);
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests.front().program, "xdg-open");
    EXPECT_EQ(requests.front().arguments, std::vector<std::string>{"https://example.test/page"});
}

TEST_F(DesktopFixture, ACommandThatCannotStartFails) {
    launcher->succeed = false;
    EXPECT_THROW(desktop->StartCommand(u"xdg-open x", ShowCommand::Normal), Failure);
    EXPECT_THROW(desktop->StartCommand(u"   ", ShowCommand::Normal), Failure);
}

TEST(QtDesktopLauncher, ARealProgramThatDoesNotExistFails) {
    QtDesktop desktop(std::make_shared<const wine::Prefix>("/nonexistent-prefix"));
    EXPECT_THROW(desktop.StartCommand(u"/nonexistent/program-that-is-not-there --flag", ShowCommand::Normal), Failure);
}

TEST_F(DesktopFixture, RandomizeSeedsFromTheTimeOfDayAndRndPassesThrough) {
    random->values = {0.25, 0.999};
    desktop->Randomize();
    ASSERT_EQ(seeds.size(), 1U);
    EXPECT_LT(seeds.front(), 24ULL * 60 * 60 * 1000);
    EXPECT_EQ(desktop->Rnd(), 0.25);
    EXPECT_EQ(desktop->Rnd(), 0.999);
}

TEST(MersenneRandomSource, StaysInsideZeroToOne) {
    MersenneRandom random;
    random.Seed(12345);
    double low = 1.0, high = 0.0;
    for (int i = 0; i < 100000; ++i) {
        const double v = random.Next();
        ASSERT_GE(v, 0.0);
        ASSERT_LT(v, 1.0);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    EXPECT_LT(low, 0.001);
    EXPECT_GT(high, 0.999);
}

struct PathCase {
    std::string name;
    std::string create;  // relative to the test folder; "" creates nothing, a trailing '/' a folder
    std::string ask;     // relative to the test folder, with '/' written as it should be passed
    bool exists;
    bool plain;
};

class PathRules : public DesktopFixture, public ::testing::WithParamInterface<PathCase> {};

TEST_P(PathRules, BackslashPathsAreStatted) {
    const PathCase& c = GetParam();
    if (!c.create.empty()) {
        if (c.create.back() == '/') std::filesystem::create_directories(Root() / c.create);
        else Touch(Root() / c.create);
    }
    const Text asked = Backslashed(Root() / c.ask);
    EXPECT_EQ(desktop->QueryFileState(asked).state, c.exists ? FileState::Exists : FileState::Missing);
    EXPECT_EQ(desktop->IsPlainFile(asked), c.plain);
}

INSTANTIATE_TEST_SUITE_P(
    Linux, PathRules,
    ::testing::Values(PathCase{"PlainFile", "x/o.cjs", "x/o.cjs", true, true},
                      PathCase{"Missing", "", "x/o.cjs", false, false},
                      PathCase{"Folder", "x/o.cjs/", "x/o.cjs", true, false},
                      PathCase{"HiddenFile", "x/.o.cjs", "x/.o.cjs", true, false},
                      PathCase{"CaseMatters", "HAND-M.CUR", "hand-m.cur", false, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(DesktopFixture, PathsWithANulNeverReachTheFileSystem) {
    Touch(Root() / "a");
    Text path = Backslashed(Root() / "a");
    path += u'\0';
    path += u"b";
    EXPECT_EQ(desktop->QueryFileState(path).state, FileState::Unknown);
    EXPECT_FALSE(desktop->IsPlainFile(path));
}

TEST_F(DesktopFixture, DriveLetterPathsGoThroughThePrefix) {
    std::filesystem::create_directories(Prefix() / "dosdevices");
    std::filesystem::create_directories(Prefix() / "drive_c" / "Program Files" / "App");
    std::filesystem::create_symlink("../drive_c", Prefix() / "dosdevices" / "c:");
    Touch(Prefix() / "drive_c" / "Program Files" / "App" / "unins000.exe");
    if (!desktop->prefix().MapWindowsPath(u"c:\\")) GTEST_SKIP() << "the Wine prefix store does not map paths yet";
    const std::pair<Text, FileAnswer> rows[] = {
        {u"c:\\program files\\app\\unins000.exe", {FileState::Exists}},
        {u"C:\\Program Files\\App", {FileState::Exists}},
        {u"c:\\program files\\app\\gone.exe", {FileState::Missing}},
        {u"c:\\progra~1\\app\\unins000.exe", {FileState::Unknown, FileDoubt::ShortName}},
        {u"q:\\nothing.exe", {FileState::Unknown, FileDoubt::NoSuchDrive}},  // no such drive in the prefix
        {u"notepad.exe", {FileState::Unknown, FileDoubt::NotFullPath}},
        {u"c:program files\\app\\unins000.exe", {FileState::Unknown, FileDoubt::NotFullPath}},
        {u"\\\\server\\share\\x.exe", {FileState::Unknown, FileDoubt::NetworkPath}},
    };
    for (const auto& [path, answer] : rows) EXPECT_EQ(desktop->QueryFileState(path), answer) << ToUtf8(path);
}

TEST_F(DesktopFixture, LoadPointerReadsACursorAndRefusesAnythingElse) {
    QFile hand(QStringLiteral(SSR_SOURCE_DIR "/assets/HAND-M.CUR"));
    ASSERT_TRUE(hand.open(QIODevice::ReadOnly));
    Touch(Root() / "HAND-M.CUR", hand.readAll());
    Touch(Root() / "junk.cur", "this is not a cursor");
    const auto pointer = desktop->LoadPointer(Backslashed(Root() / "HAND-M.CUR"));
    const auto* qt_pointer = dynamic_cast<const QtPointer*>(pointer.get());
    ASSERT_NE(qt_pointer, nullptr);
    EXPECT_EQ(qt_pointer->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(qt_pointer->cursor().pixmap().size(), QSize(32, 32));

    try {
        (void)desktop->LoadPointer(Backslashed(Root() / "junk.cur"));
        FAIL() << "junk was read as a pointer";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), kInvalidPicture);
    }
    EXPECT_THROW((void)desktop->LoadPointer(Backslashed(Root() / "missing.cur")), Failure);
}

TEST_F(DesktopFixture, ApplicationFolderIsTheProgramsFolder) {
    EXPECT_EQ(desktop->ApplicationFolder(), ToText(QCoreApplication::applicationDirPath()));
}

// The program run from a folder whose name is not UTF-8: every path the core
// builds on the application folder's text still names that folder's files.
struct OwnFileCase {
    std::string use;
    std::function<bool(QtDesktop&, const Text& folder, const std::vector<LaunchRequest>& started)> works;
};
void PrintTo(const OwnFileCase& c, std::ostream* os) { *os << c.use; }

class FolderNotInUtf8 : public DesktopFixture, public ::testing::WithParamInterface<OwnFileCase> {
protected:
    // QTemporaryDir cannot name it to remove it.
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(Root() / "app\xff\xfe", ignored);
    }
};

TEST_P(FolderNotInUtf8, StillNamesTheProgramsOwnFiles) {
    const std::filesystem::path folder = Root() / "app\xff\xfe";
    QFile hand(QStringLiteral(SSR_SOURCE_DIR "/assets/HAND-M.CUR"));
    ASSERT_TRUE(hand.open(QIODevice::ReadOnly));
    Touch(folder / "HAND-M.CUR", hand.readAll());
    QtDesktop own(std::make_shared<const wine::Prefix>(Prefix()), std::make_unique<MersenneRandom>(),
                  std::make_shared<RecordingLauncher>(&requests), folder / "sweep-stale-records");
    EXPECT_TRUE(GetParam().works(own, own.ApplicationFolder(), requests));
}

INSTANTIATE_TEST_SUITE_P(
    Uses, FolderNotInUtf8,
    ::testing::Values(
        OwnFileCase{"PointerFileIsFound",
                    [](QtDesktop& d, const Text& f, const auto&) {
                        return d.QueryFileState(f + u"\\HAND-M.CUR").state == FileState::Exists;
                    }},
        OwnFileCase{"PointerFileIsAPlainFile",
                    [](QtDesktop& d, const Text& f, const auto&) { return d.IsPlainFile(f + u"\\HAND-M.CUR"); }},
        OwnFileCase{"PointerLoads",
                    [](QtDesktop& d, const Text& f, const auto&) { return d.LoadPointer(f + u"\\HAND-M.CUR") != nullptr; }},
        OwnFileCase{"UninstallerStartsInIt",
                    [](QtDesktop& d, const Text& f, const std::vector<LaunchRequest>& started) {
                        return d.ShellOpen(0, u"C:\\a.exe", u"", f, ShowCommand::Normal, {}).started &&
                               started.size() == 1 && started[0].working_directory.ends_with("/app\xff\xfe");
                    }}),
    [](const auto& info) { return info.param.use; });

// One row per reason the prefix store gives: the words come from the
// reason, name the file it concerns, and say what the user can do.
struct AdviceCase {
    const char* behaviour;
    WriteFailure failure;
    std::vector<QString> says;  // "<prefix>" stands for the prefix's folder
    bool blames_a_program;
};

void PrintTo(const AdviceCase& c, std::ostream* os) { *os << c.behaviour; }

struct WriteAdvice : DesktopFixture, ::testing::WithParamInterface<AdviceCase> {};

TEST_P(WriteAdvice, SaysTheStoresOwnReason) {
    const AdviceCase& c = GetParam();
    const QString advice = ToQString(desktop->RegistryWriteAdvice(c.failure, kHkeyLocalMachine));
    for (QString says : c.says) {
        says.replace("<prefix>", QString::fromStdString(Prefix().string()));
        EXPECT_TRUE(advice.contains(says)) << advice.toStdString() << "\n lacks: " << says.toStdString();
    }
    EXPECT_EQ(advice.contains("Wine program is running"), c.blames_a_program) << advice.toStdString();
    EXPECT_FALSE(advice.contains("(error")) << advice.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, WriteAdvice,
    ::testing::Values(
        AdviceCase{"ServerRunningGivesTheCommandForThisPrefix",
                   {kErrorSharingViolation, WriteFailureKind::ServerRunning, u"p"},
                   {"<prefix>", "Close that program", "\"WINEPREFIX='<prefix>' wineserver -k\""}, true},
        AdviceCase{"AnotherCopyWritingSaysTryAgainInAMoment",
                   {kErrorSharingViolation, WriteFailureKind::OtherWriter, u"p"},
                   {"Another copy of this program", "<prefix>", "try again in a moment"}, false},
        AdviceCase{"LockFileNotOursNamesIt",
                   {kErrorAccessDenied, WriteFailureKind::LockNotOurs, u"/p/.registry-writers.lock"},
                   {"/p/.registry-writers.lock", "not a plain file of yours"}, false},
        AdviceCase{"ReadOnlyFile", {kErrorAccessDenied, WriteFailureKind::ReadOnly, u"/p/system.reg"},
                   {"/p/system.reg", "read-only", "unchanged"}, false},
        AdviceCase{"DiskFull", {kErrorDiskFull, WriteFailureKind::DiskFull, u"/p/user.reg"},
                   {"/p/user.reg", "full", "unchanged"}, false},
        AdviceCase{"DamagedFile", {kErrorBadDbFormat, WriteFailureKind::Damaged, u"/p/system.reg"},
                   {"/p/system.reg", "not a registry file", "unchanged"}, false},
        AdviceCase{"OtherFailureInTheSystemsOwnWords",
                   {kErrorWriteFault, WriteFailureKind::System, u"/p/system.reg", u"Input/output error"},
                   {"/p/system.reg", "could not be rewritten: Input/output error.", "unchanged"}, false}));

TEST_F(DesktopFixture, ADiscardedBackupIsRemovedAndNoOtherFile) {
    const std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    const SavedBackup kept = desktop->SaveBackup(bytes);
    const SavedBackup discarded = desktop->SaveBackup(bytes);
    ASSERT_TRUE(kept.saved && discarded.saved);
    desktop->DiscardBackup(kept.path);  // not the last one written: it stays
    desktop->DiscardBackup(discarded.path);
    EXPECT_TRUE(QFile::exists(ToQString(kept.path)));
    EXPECT_FALSE(QFile::exists(ToQString(discarded.path)));
}

struct StyleCase {
    std::string name;
    int style;
    QMessageBox::Icon icon;
    std::vector<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton press;
    int answer;
};

class MessageStyles : public DesktopFixture, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(MessageStyles, ShowIconButtonsAndAnswer) {
    const StyleCase& c = GetParam();
    QMessageBox::Icon icon{};
    std::vector<QMessageBox::StandardButton> buttons;
    QString title, text;
    WhenDialogOpens<QMessageBox>([&](QMessageBox* box) {
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        for (QAbstractButton* b : box->buttons()) buttons.push_back(box->standardButton(b));
        box->button(c.press)->click();
    });
    desktop->SetApplicationTitle(u"Short Title");
    EXPECT_EQ(desktop->MsgBox(u"one\r\rtwo", c.style, std::nullopt), c.answer);
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(title, QStringLiteral("Short Title"));
    EXPECT_EQ(text, QStringLiteral("one\n\ntwo"));
    std::sort(buttons.begin(), buttons.end());
    auto expected = c.buttons;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(buttons, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageStyles,
    ::testing::Values(StyleCase{"HelpOkOnly", 0, QMessageBox::NoIcon, {QMessageBox::Ok}, QMessageBox::Ok, 1},
                      StyleCase{"WarningOk", 48, QMessageBox::Warning, {QMessageBox::Ok}, QMessageBox::Ok, 1},
                      StyleCase{"CriticalOkCancel", 17, QMessageBox::Critical, {QMessageBox::Ok, QMessageBox::Cancel},
                                QMessageBox::Cancel, 2},
                      StyleCase{"QuestionYesNo", 36, QMessageBox::Question, {QMessageBox::Yes, QMessageBox::No},
                                QMessageBox::No, 7},
                      StyleCase{"InformationYesNoCancel", 67, QMessageBox::Information,
                                {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}, QMessageBox::Yes, 6}),
    [](const auto& info) { return info.param.name; });

TEST_F(DesktopFixture, MessageCaptionWhenGiven) {
    QString title;
    WhenDialogOpens<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        box->accept();
    });
    (void)desktop->MsgBox(u"x", 48, TextView(u"Application Error"));
    EXPECT_EQ(title, QStringLiteral("Application Error"));
}

TEST_F(DesktopFixture, InputBoxGivesTheTypedTextAndEmptyOnCancel) {
    QString title, label;
    WhenDialogOpens<QInputDialog>([&](QInputDialog* dialog) {
        title = dialog->windowTitle();
        label = dialog->labelText();
        auto* edit = dialog->findChild<QLineEdit*>();
        QTest::keyClicks(edit, QStringLiteral("Adobe  R"));
        edit->insert(QStringLiteral("é"));  // typed through an input method
        QTest::keyClick(edit, Qt::Key_Return);
    });
    desktop->SetApplicationTitle(u"Sweep Stale Records Out Of The Installed");
    EXPECT_EQ(desktop->InputBox(u"Enter text:", std::nullopt, u""), u"Adobe  Ré");
    EXPECT_EQ(title, QStringLiteral("Sweep Stale Records Out Of The Installed"));
    EXPECT_EQ(label, QStringLiteral("Enter text:"));

    WhenDialogOpens<QInputDialog>([](QInputDialog* dialog) {
        QTest::keyClicks(dialog->findChild<QLineEdit*>(), QStringLiteral("typed then cancelled"));
        dialog->reject();
    });
    EXPECT_EQ(desktop->InputBox(u"Enter text:", TextView(u"Own caption"), u""), u"");
}

TEST(QtDesktopEnd, EndProcessEndsAtOnceWithSuccess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(QtDesktop(std::make_shared<const wine::Prefix>("/nonexistent")).EndProcess(),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ssr
