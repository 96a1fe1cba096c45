// The Linux program against a real Wine prefix, driven through its real
// window: records are put in with Wine's own reg.exe, and what the program
// did is read back with Wine's own reg.exe. One prefix serves every case, in
// the order written here; the prefix lives in the test run's folder and is
// never ~/.wine.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "application/appearance.h"
#include "doubles/recording_skin_engine.h"
#include "application/form1.h"
#include "main_window.h"
#include "platform/qt/entry_list_model.h"
#include "platform/qt/qt_desktop.h"
#include "platform/wine/prefix/wine_prefix.h"
#include "platform/wine/wine_registry.h"

namespace ssr {
namespace {

const QString kUninstallKey = QStringLiteral("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

struct Record {
    QString key;
    QString name;
    QString command;
    bool stale;
};

// Program files that exist are made in drive_c; the stale ones name files that were never there.
const std::vector<Record> kRecords = {
    {"SsrE2E.Present", "E2E Present App", R"("C:\Program Files\Present App\unins000.exe" /SILENT)", false},
    {"SsrE2E.PresentTwo", "E2E Present Two", R"(C:\Program Files\Present Two\uninstall.exe)", false},
    {"SsrE2E.GoneQuoted", "E2E Gone Quoted", R"("C:\Program Files\Gone App\unins000.exe" /S)", true},
    // Found gone only through the environment the desktop reads from the store.
    {"SsrE2E.GoneUnquoted", "E2E Gone Unquoted", R"(%ProgramFiles%\Gone Two\uninst.exe /x)", true},
    {"SsrE2E.GoneWithSubkey", "E2E Gone With Subkey", R"(C:\Gone Three\remove.exe)", true},
    {"SsrE2E.Msi", "E2E Msi Package", "MsiExec.exe /X{11111111-2222-3333-4444-555555555555}", false},
    {"SsrE2E.Marker", "E2E Marker Uninstaller",
     R"(C:\windows\system32\cmd.exe /c echo marker-args /S /norestart > C:\marker.txt)", false},
    // Records of live programs whose file test cannot say "gone": a path
    // through the prefix's environment, a ClickOnce record whose target
    // comes out empty, a drive the prefix has no mapping for, a bare name.
    {"SsrE2E.Expandable", "E2E Expandable Path", R"("%ProgramFiles%\Expand App\uninst.exe" /S)", false},
    {"SsrE2E.ClickOnce", "E2E ClickOnce App",
     "rundll32.exe dfshim.dll,ShArpMaintain App.application, Culture=neutral, PublicKeyToken=0000000000000000", false},
    {"SsrE2E.Unplugged", "E2E Unplugged Drive", R"("R:\Apps\Unplugged\uninst.exe" /S)", false},
    {"SsrE2E.Bare", "E2E Bare Name", "notepad.exe /uninstall", false},
};
// In the 32-bit view, where %ProgramFiles% is the x86 folder.
const Record kRecord32 = {"SsrE2E.Expandable32", "E2E Expandable 32-bit", R"("%ProgramFiles%\Expand Old\uninst.exe")",
                          false};
const std::vector<QString> kPresentFiles = {"Program Files/Present App/unins000.exe",
                                            "Program Files/Present Two/uninstall.exe",
                                            "Program Files/Expand App/uninst.exe",
                                            "Program Files (x86)/Expand Old/uninst.exe"};

// A random source that never draws the promotion's number.
struct NoPromotion final : RandomSource {
    void Seed(std::uint64_t) override {}
    double Next() override { return 0.5; }
};

// Handles the program's modal boxes as a user would, and keeps what they said.
class DialogHand {
public:
    DialogHand() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(20);
    }
    std::vector<std::pair<QMessageBox::Icon, QString>> messages;
    std::vector<QString> input_prompts;
    QString type_into_input;  // typed, then Enter

private:
    void Poll() {
        QWidget* widget = QApplication::activeModalWidget();
        if (!widget || !widget->isVisible() || widget == m_last) return;
        m_last = widget;
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            messages.emplace_back(box->icon(), box->text());
            box->accept();
        } else if (auto* input = qobject_cast<QInputDialog*>(widget)) {
            input_prompts.push_back(input->labelText());
            auto* edit = input->findChild<QLineEdit*>();
            QTest::keyClicks(edit, type_into_input);
            QTest::keyClick(edit, Qt::Key_Return);
        }
    }
    QTimer m_timer;
    QPointer<QWidget> m_last;
};

// The program as main() builds it, on the test prefix.
struct Program {
    explicit Program(const std::filesystem::path& path)
        : prefix(std::make_shared<const wine::Prefix>(path)), registry(prefix),
          desktop(prefix, std::make_unique<NoPromotion>()), form(registry, desktop, skin),
          window(form) {
        desktop.UseEnvironmentOf(registry);
        window.Start();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    [[nodiscard]] int RowOf(const QString& name) const {
        const EntryList& list = const_cast<Form1&>(form).ListView1();
        for (int i = 1; i <= list.Count(); ++i)
            if (ToQString(list.ItemText(i)) == name) return i;
        return 0;
    }
    [[nodiscard]] std::set<QString> CheckedNames() {
        std::set<QString> names;
        for (int i = 1; i <= form.ListView1().Count(); ++i)
            if (form.ListView1().Checked(i)) names.insert(ToQString(form.ListView1().ItemText(i)));
        return names;
    }
    void Click(int number) { QTest::mouseClick(window.PushButton(number), Qt::LeftButton); }

    std::shared_ptr<const wine::Prefix> prefix;
    WinePrefixRegistry registry;
    QtDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form;
    MainWindow window;
};

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QStandardPaths::findExecutable("wine").isEmpty()) {
            s_skip = "Wine is not installed";
            return;
        }
        const QByteArray run_dir = qgetenv("SSR_TEST_RUN_DIR");
        if (run_dir.isEmpty()) {
            s_temporary = new QTemporaryDir();
            s_prefix = std::filesystem::path(s_temporary->path().toStdString()) / "prefix";
        } else {
            s_prefix = std::filesystem::path(run_dir.toStdString()) / "qt-end-to-end";
        }
        const QByteArray home = qgetenv("HOME");
        ASSERT_NE(std::filesystem::weakly_canonical(s_prefix),
                  std::filesystem::weakly_canonical(std::filesystem::path(home.toStdString()) / ".wine"));
        std::filesystem::create_directories(s_prefix);
        qputenv("WINEPREFIX", QByteArray::fromStdString(s_prefix.string()));
        qputenv("WINEDEBUG", "-all");

        Run("wineboot", {"-i"}, 300000);
        Run("wineserver", {"-w"});
        for (const QString& file : kPresentFiles) {
            const QString path = DriveC() + "/" + file;
            QDir().mkpath(QFileInfo(path).path());
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write("MZ");
        }

        // One import for every record.
        QString reg = "REGEDIT4\r\n";
        const auto quoted = [](QString text) {
            return "\"" + text.replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
        };
        for (const Record& r : kRecords) {
            reg += "\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + r.key + "]\r\n";
            reg += "\"DisplayName\"=" + quoted(r.name) + "\r\n";
            reg += "\"UninstallString\"=" + quoted(r.command) + "\r\n";
        }
        reg += "\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SsrE2E.GoneWithSubkey\\"
               "Details]\r\n\"Channel\"=\"beta\"\r\n";
        QFile file(DriveC() + "/records.reg");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reg.toLatin1());
        file.close();
        // /reg:64: Debian's `wine` may start the 32-bit reg.exe, whose view is
        // Wow6432Node; the program reads the prefix's native view.
        const auto imported = Run("wine", {"reg", "import", "C:\\records.reg", "/reg:64"});
        ASSERT_EQ(imported.first, 0) << imported.second.toStdString();
        QFile file32(DriveC() + "/records32.reg");
        ASSERT_TRUE(file32.open(QIODevice::WriteOnly));
        file32.write(("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                      kRecord32.key + "]\r\n\"DisplayName\"=" + quoted(kRecord32.name) + "\r\n\"UninstallString\"=" +
                      quoted(kRecord32.command) + "\r\n")
                         .toLatin1());
        file32.close();
        const auto imported32 = Run("wine", {"reg", "import", "C:\\records32.reg", "/reg:32"});
        ASSERT_EQ(imported32.first, 0) << imported32.second.toStdString();
        Run("wineserver", {"-w"});
        s_keys_before = UninstallKeys();
        Run("wineserver", {"-w"});
    }

    static void TearDownTestSuite() {
        if (!s_prefix.empty()) Run("wineserver", {"-k"});
        delete s_temporary;
        s_temporary = nullptr;
    }

    void SetUp() override {
        if (!s_skip.empty()) GTEST_SKIP() << s_skip;
        // Nothing may hold the prefix while the program reads and writes it.
        Run("wineserver", {"-w"});
        Program probe(s_prefix);
        if (probe.RowOf("E2E Present App") == 0)
            GTEST_SKIP() << "the Wine prefix store lists none of the records that reg.exe imported";
    }

    static QString DriveC() { return QString::fromStdString((s_prefix / "drive_c").string()); }

    static std::pair<int, QString> Run(const QString& program, const QStringList& arguments, int timeout = 120000) {
        QProcess process;
        process.setProgram(program);
        process.setArguments(arguments);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start();
        if (!process.waitForFinished(timeout)) {
            process.kill();
            process.waitForFinished();
            return {-1, QStringLiteral("timed out")};
        }
        return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput())};
    }

    // The subkeys of the uninstall key as Wine itself reads them.
    static std::set<QString> UninstallKeys() {
        const auto [code, out] = Run("wine", {"reg", "query", kUninstallKey, "/reg:64"});
        std::set<QString> keys;
        const QString prefix = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
        for (QString line : out.split('\n')) {
            line = line.trimmed();
            if (line.startsWith(prefix, Qt::CaseInsensitive)) keys.insert(line.mid(prefix.size()));
        }
        return keys;
    }

    static QByteArray SystemReg() {
        QFile file(QString::fromStdString((s_prefix / "system.reg").string()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeout_ms) return false;
            QTest::qWait(50);
        }
        return true;
    }

    static inline std::string s_skip;
    static inline std::filesystem::path s_prefix;
    static inline QTemporaryDir* s_temporary = nullptr;
    static inline std::set<QString> s_keys_before;
};

TEST_F(EndToEnd, ListsTheRecordsThatWineImported) {
    Program program(s_prefix);
    for (const Record& r : kRecords) EXPECT_NE(program.RowOf(r.name), 0) << r.name.toStdString();
    for (const Record& r : kRecords) EXPECT_TRUE(s_keys_before.count(r.key)) << r.key.toStdString();
    EXPECT_NE(program.RowOf(kRecord32.name), 0);
    // The row keeps the command the record gave; the column shows what the listing made of it.
    const int clickonce = program.RowOf("E2E ClickOnce App");
    ASSERT_NE(clickonce, 0);
    EXPECT_EQ(ToQString(program.form.ListView1().Command(clickonce)), kRecords[8].command);
}

TEST_F(EndToEnd, SelectByTextThroughTheRealInputBox) {
    const QByteArray before = SystemReg();
    Program program(s_prefix);
    DialogHand hand;
    hand.type_into_input = "e2e gone";  // lower case, across the blank
    program.Click(5);
    ASSERT_EQ(hand.input_prompts, std::vector<QString>({"Enter text:"}));
    EXPECT_EQ(program.CheckedNames(),
              std::set<QString>({"E2E Gone Quoted", "E2E Gone Unquoted", "E2E Gone With Subkey"}));

    hand.type_into_input = "E2E G";
    program.Click(6);
    EXPECT_EQ(program.CheckedNames().size(), static_cast<std::size_t>(program.form.ListView1().Count()));
    EXPECT_TRUE(hand.messages.empty());
    EXPECT_EQ(SystemReg(), before);
}

TEST_F(EndToEnd, UninstallStartsTheProgramWithItsParameters) {
    const QString marker = DriveC() + "/marker.txt";
    QFile::remove(marker);
    Program program(s_prefix);
    DialogHand hand;
    const int row = program.RowOf("E2E Marker Uninstaller");
    ASSERT_NE(row, 0);
    QTreeView* list = program.window.ListView1();
    const QModelIndex index = program.window.Model().index(row - 1, 0);
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    ASSERT_TRUE(program.form.ListView1().Selected(row));

    program.Click(1);
    ASSERT_TRUE(WaitFor([&] { return QFile(marker).size() > 0; }, 60000)) << "the uninstaller never ran";
    QTest::qWait(200);
    QFile file(marker);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("marker-args /S /norestart"));
    EXPECT_TRUE(hand.messages.empty());
    EXPECT_NE(program.RowOf("E2E Marker Uninstaller"), 0);  // listed until the next start
    Run("wineserver", {"-w"});
}

TEST_F(EndToEnd, RemoveWhileAWineserverHoldsThePrefixKeepsEverything) {
    ASSERT_TRUE(QProcess::startDetached("wineserver", {"-p"}));
    ASSERT_TRUE(WaitFor([] { return wine::Prefix(s_prefix).ServerRunning(); }, 20000));
    const QByteArray before = SystemReg();
    {
        Program program(s_prefix);
        DialogHand hand;
        program.Click(3);
        const std::set<QString> suggested = program.CheckedNames();
        ASSERT_EQ(suggested.size(), 3U);
        const int rows = program.form.ListView1().Count();
        program.Click(2);
        ASSERT_EQ(hand.messages.size(), 1U);
        EXPECT_EQ(hand.messages.front().first, QMessageBox::Warning);
        EXPECT_TRUE(hand.messages.front().second.startsWith("3 ")) << hand.messages.front().second.toStdString();
        EXPECT_TRUE(hand.messages.front().second.contains("wineserver -k"));
        EXPECT_EQ(program.form.ListView1().Count(), rows);
        EXPECT_EQ(program.CheckedNames(), suggested);
        EXPECT_EQ(SystemReg(), before);
    }
    Run("wineserver", {"-k"});
    ASSERT_TRUE(WaitFor([] { return !wine::Prefix(s_prefix).ServerRunning(); }, 20000));
    EXPECT_EQ(UninstallKeys(), s_keys_before);
    Run("wineserver", {"-w"});
}

TEST_F(EndToEnd, SuggestThenRemoveDeletesExactlyTheStaleKeys) {
    {
        Program program(s_prefix);
        DialogHand hand;
        program.Click(3);
        std::set<QString> stale_names;
        for (const Record& r : kRecords)
            if (r.stale) stale_names.insert(r.name);
        EXPECT_EQ(program.CheckedNames(), stale_names);
        program.Click(2);
        EXPECT_TRUE(hand.messages.empty());
        for (const Record& r : kRecords) EXPECT_EQ(program.RowOf(r.name) == 0, r.stale) << r.name.toStdString();
    }
    std::set<QString> expected = s_keys_before;
    for (const Record& r : kRecords)
        if (r.stale) expected.erase(r.key);
    EXPECT_EQ(UninstallKeys(), expected);
    EXPECT_NE(Run("wine", {"reg", "query", kUninstallKey + "\\SsrE2E.GoneWithSubkey\\Details", "/reg:64"}).first, 0);
    Run("wineserver", {"-w"});
}

}  // namespace
}  // namespace ssr
