// The command line run as the real program, without a display, on one real
// Wine-made prefix: records put in with Wine's own reg.exe in both views and
// for the user, what the program did read back with reg.exe. The cases run
// in the order written; the prefix lives in the test run's folder.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;

const QString kUninstall = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

struct Record {
    const char* key;
    const char* root;  // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
    const char* view;  // reg.exe's view flag
    const char* command;
    const char* suggest;  // what --list says
};

// C:\Program Files\Here\u.exe exists; nothing else that a command names does.
const Record kRecords[] = {
    {"Cli.Live", "HKEY_LOCAL_MACHINE", "/reg:64", R"("C:\Program Files\Here\u.exe" /S)", "live"},
    {"Cli.Gone", "HKEY_LOCAL_MACHINE", "/reg:64", R"(C:\Program Files\Gone\u.exe /x)", "stale"},
    {"Cli.Gone32", "HKEY_LOCAL_MACHINE", "/reg:32", R"("C:\Program Files (x86)\Gone\u.exe")", "stale"},
    {"Cli.GoneUser", "HKEY_CURRENT_USER", "/reg:64", R"(C:\users\Gone\u.exe)", "stale"},
    {"Cli.Msi", "HKEY_LOCAL_MACHINE", "/reg:64", "MsiExec.exe /X{1}", "cannot tell"},
};

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QStandardPaths::findExecutable("wine").isEmpty()) {
            s_skip = "Wine is not installed";
            return;
        }
        const QByteArray run_dir = qgetenv("SSR_TEST_RUN_DIR");
        s_temporary = new QTemporaryDir(run_dir.isEmpty() ? QDir::tempPath() + "/ssr-cli-XXXXXX"
                                                          : QString::fromLocal8Bit(run_dir) + "/ssr-cli-XXXXXX");
        s_prefix = s_temporary->path() + "/prefix";
        QDir().mkpath(s_prefix);
        Wine({"wineboot", "-i"});
        Wine({"wineserver", "-w"});
        QDir().mkpath(s_prefix + "/drive_c/Program Files/Here");
        QFile(s_prefix + "/drive_c/Program Files/Here/u.exe").open(QIODevice::WriteOnly);
        for (const Record& r : kRecords) {
            const QString key = QString::fromUtf8(r.root) + "\\" + kUninstall + "\\" + r.key;
            Wine({"wine", "reg", "add", key, "/v", "DisplayName", "/d", QString("Name of ") + r.key, "/f", r.view});
            Wine({"wine", "reg", "add", key, "/v", "UninstallString", "/d", r.command, "/f", r.view});
        }
        Wine({"wine", "reg", "add", "HKLM\\" + kUninstall + "\\Cli.Gone\\Details", "/v", "Channel", "/d", "beta", "/f", "/reg:64"});
        Wine({"wineserver", "-k"});
        Wine({"wineserver", "-w"});
    }
    static void TearDownTestSuite() {
        if (s_temporary) Wine({"wineserver", "-k"});
        delete s_temporary;
        s_temporary = nullptr;
    }
    void SetUp() override {
        if (!s_skip.empty()) GTEST_SKIP() << s_skip;
        Wine({"wineserver", "-w"});
    }

    static QProcessEnvironment Environment() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
        environment.insert("WINEPREFIX", s_prefix);
        environment.insert("WINEDEBUG", "-all");
        return environment;
    }
    static Outcome Start(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(Environment());
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments);
        process.waitForFinished(300000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }
    static Outcome Wine(const QStringList& command) { return Start(command.front(), command.mid(1)); }
    static Outcome Program(const QStringList& arguments) { return Start(QStringLiteral(SSR_PROGRAM), arguments); }

    // Whether Wine itself still sees the record, in its own view.
    // Its server is stopped again: the program writes nothing while one runs.
    static bool WineHas(const Record& r) {
        const bool has =
            Wine({"wine", "reg", "query", QString::fromUtf8(r.root) + "\\" + kUninstall + "\\" + r.key, r.view}).code == 0;
        Wine({"wineserver", "-k"});
        Wine({"wineserver", "-w"});
        return has;
    }
    // What --list --json says of each record, by key.
    static std::map<QString, QString> Answers(const QStringList& arguments) {
        const Outcome run = Program(arguments);
        EXPECT_EQ(run.code, 0) << run.err.toStdString();
        std::map<QString, QString> answers;
        for (const QJsonValue& value : QJsonDocument::fromJson(run.out.toUtf8()).array())
            answers[value["key"].toString()] = value["suggest"].toString();
        return answers;
    }

    static inline std::string s_skip;
    static inline QTemporaryDir* s_temporary = nullptr;
    static inline QString s_prefix;
};

TEST_F(CommandLine, ListsEveryRecordWithSuggestsAnswerAndStaleOnlyTheGone) {
    const std::map<QString, QString> listed = Answers({"--list", "--json"});
    const std::map<QString, QString> stale = Answers({"--stale", "--json"});
    for (const Record& r : kRecords) {
        EXPECT_EQ(listed.count(r.key) ? listed.at(r.key) : QString("(missing)"), r.suggest) << r.key;
        EXPECT_EQ(stale.count(r.key) == 1, QString(r.suggest) == "stale") << r.key;
    }
    const Outcome text = Program({"--list"});
    EXPECT_TRUE(text.out.startsWith("NAME")) << text.out.toStdString();
    EXPECT_EQ(text.out.count('\n'), 1 + static_cast<int>(std::size(kRecords)));
}

TEST_F(CommandLine, AllPrefixesFoundAreListedInTheChoosersOrder) {
    // ~/.wine is the test prefix; ~/.wine-copy a copy of its registry files.
    const QString home = s_temporary->path() + "/home";
    QDir().mkpath(home + "/.wine-copy");
    QFile::link(s_prefix, home + "/.wine");
    for (const char* file : {"/system.reg", "/user.reg"}) QFile::copy(s_prefix + file, home + "/.wine-copy" + file);
    QProcessEnvironment environment = Environment();
    environment.insert("HOME", home);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SSR_PROGRAM), {"--all", "--list", "--json"});
    process.waitForFinished(300000);
    std::vector<std::string> prefixes;
    for (const QJsonValue& value : QJsonDocument::fromJson(process.readAllStandardOutput()).array())
        if (prefixes.empty() || prefixes.back() != value["prefix"].toString().toStdString())
            prefixes.push_back(value["prefix"].toString().toStdString());
    EXPECT_EQ(prefixes, (std::vector<std::string>{(home + "/.wine").toStdString(), (home + "/.wine-copy").toStdString()}));
}

TEST_F(CommandLine, RefusedAndWrongRequestsChangeNothing) {
    struct Row {
        QStringList arguments;
        int code;
        const char* says;
    };
    const Row rows[] = {
        {{"--remove", "No.Such.Record"}, 1, "no record No.Such.Record"},
        {{"--remove", "Cli.Gone", "--all"}, 2, "--all does not go with --remove"},
        {{"--remove-stale", "--dry-run"}, 0, ""},
        {{s_temporary->path() + "/not-a-prefix", "--list"}, 1, "is not a Wine prefix"},
        {{s_temporary->path() + "/damaged", "--stale"}, 1, "cannot be read"},  // not a prefix without records
    };
    QDir().mkpath(s_temporary->path() + "/damaged");
    QFile damaged(s_temporary->path() + "/damaged/system.reg");
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("zero-filled after a crash");
    damaged.close();
    for (const Row& row : rows) {
        const Outcome run = Program(row.arguments);
        EXPECT_EQ(run.code, row.code) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(row.says)) << run.err.toStdString();
    }
    for (const Record& r : kRecords) EXPECT_TRUE(WineHas(r)) << r.key;
}

TEST_F(CommandLine, RemovesWhatItIsToldAndWhatSuggestChecksAfterABackup) {
    // The path with its root abbreviated, in another case.
    const Outcome one = Program({"--remove", "hklm\\" + kUninstall.toLower() + "\\CLI.GONE"});
    ASSERT_EQ(one.code, 0) << one.err.toStdString();
    EXPECT_FALSE(WineHas(kRecords[1]));
    const QString backup = one.out.section("Backup: ", 1).section('\n', 0, 0);
    EXPECT_TRUE(QFileInfo(backup).isFile()) << one.out.toStdString();

    const Outcome rest = Program({"--remove-stale"});
    ASSERT_EQ(rest.code, 0) << rest.err.toStdString();
    for (const Record& r : kRecords) EXPECT_EQ(WineHas(r), QString(r.suggest) != "stale") << r.key;
    const Outcome backups = Program({"--backups"});
    EXPECT_EQ(backups.out.count('\n'), 2) << backups.out.toStdString();
    EXPECT_TRUE(backups.out.startsWith(backups.out.section('\n', 0, 0))) << "newest first";
}

TEST_F(CommandLine, RestoresBackupsWithoutWineAndRefusesARecordThatChanged) {
    const QStringList backups = Program({"--backups"}).out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(backups.size(), 2);
    for (const QString& line : backups) {
        const Outcome run = Program({"--restore", line.section("  ", 1)});
        EXPECT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith("Restored: ")) << run.out.toStdString();
    }
    for (const Record& r : kRecords) EXPECT_TRUE(WineHas(r)) << r.key;
    EXPECT_TRUE(Wine({"wine", "reg", "query", "HKLM\\" + kUninstall + "\\Cli.Gone\\Details", "/v", "Channel", "/reg:64"})
                    .out.contains("beta"));
    Wine({"wineserver", "-k"});

    // The oldest backup holds Cli.Gone; Wine then changes the record.
    const QString oldest = backups.last().section("  ", 1);
    Wine({"wine", "reg", "add", "HKLM\\" + kUninstall + "\\Cli.Gone", "/v", "DisplayName", "/d", "Changed", "/f", "/reg:64"});
    Wine({"wineserver", "-k"});
    Wine({"wineserver", "-w"});
    const Outcome refused = Program({"--restore", oldest});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains("--force")) << refused.err.toStdString();
    const Outcome forced = Program({"--restore", oldest, "--force"});
    EXPECT_EQ(forced.code, 0) << forced.err.toStdString();
    EXPECT_TRUE(Wine({"wine", "reg", "query", "HKLM\\" + kUninstall + "\\Cli.Gone", "/v", "DisplayName", "/reg:64"})
                    .out.contains("Name of Cli.Gone"));
    Wine({"wineserver", "-k"});
}

TEST_F(CommandLine, NothingIsWrittenWhileWineRuns) {
    const QString backup = Program({"--backups"}).out.section('\n', 0, 0).section("  ", 1);
    const QByteArray before = [] {
        QFile file(s_prefix + "/system.reg");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    Wine({"wineserver", "-p"});
    const Outcome removed = Program({"--remove", "Cli.Live"});
    const Outcome restored = Program({"--restore", backup, "--force"});
    Wine({"wineserver", "-k"});
    Wine({"wineserver", "-w"});
    for (const Outcome& run : {removed, restored}) {
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.err.contains("wineserver -k")) << run.err.toStdString();
    }
    QFile after(s_prefix + "/system.reg");
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
}

}  // namespace
