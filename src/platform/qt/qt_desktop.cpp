// The Linux desktop: Qt's boxes, programs started through Wine, files in the prefix.
#include "platform/qt/qt_desktop.h"

#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/backup_name.h"
#include "platform/failure.h"
#include "platform/qt/cursor_file.h"
#include "platform/wine/backups/backups.h"
#include "platform/wine/posix/posix.h"
#include "platform/wine/prefix/prefix.h"

namespace ssr {

namespace {

// Pointer files are a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxPointerFileSize = 4 * 1024 * 1024;

bool HasDriveLetter(TextView path) {
    return path.size() >= 2 && path[1] == u':' &&
           ((path[0] >= u'a' && path[0] <= u'z') || (path[0] >= u'A' && path[0] <= u'Z'));
}

// Why a program could not be started in `folder`, as an errno; 0 when it can
// be (or none is asked for).
int FolderEntryError(const std::string& folder) {
    if (folder.empty()) return 0;
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return errno;
    if (!S_ISDIR(status.st_mode)) return ENOTDIR;
    return ::access(folder.c_str(), X_OK) == 0 ? 0 : errno;
}

QMessageBox::Icon IconOf(int style) {
    switch (style & 0x70) {
        case 16: return QMessageBox::Critical;
        case 32: return QMessageBox::Question;
        case 48: return QMessageBox::Warning;
        case 64: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

// The buttons of a style, each with the value MsgBox answers for it.
struct ButtonChoice {
    QMessageBox::StandardButton button;
    int answer;
};
std::vector<ButtonChoice> ButtonsOf(int style) {
    constexpr int kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7;
    switch (style & 0x7) {
        case 1: return {{QMessageBox::Ok, kOk}, {QMessageBox::Cancel, kCancel}};
        case 2: return {{QMessageBox::Abort, kAbort}, {QMessageBox::Retry, kRetry}, {QMessageBox::Ignore, kIgnore}};
        case 3: return {{QMessageBox::Yes, kYes}, {QMessageBox::No, kNo}, {QMessageBox::Cancel, kCancel}};
        case 4: return {{QMessageBox::Yes, kYes}, {QMessageBox::No, kNo}};
        case 5: return {{QMessageBox::Retry, kRetry}, {QMessageBox::Cancel, kCancel}};
        default: return {{QMessageBox::Ok, kOk}};
    }
}

}  // namespace

std::string WineProgram(const char* wine_variable) {
    return wine_variable && *wine_variable ? wine_variable : "wine";
}

std::string WineServerProgram(const char* wineserver_variable, const std::string& wine) {
    if (wineserver_variable && *wineserver_variable) return wineserver_variable;
    if (const std::size_t slash = wine.rfind('/'); slash != std::string::npos) {
        const std::string beside = wine.substr(0, slash + 1) + "wineserver";
        struct stat status {};
        if (::stat(beside.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(beside.c_str(), X_OK) == 0)
            return beside;
    }
    return "wineserver";
}

QString WineOpenFailure(const ProcessOutcome& outcome) {
    if (outcome.ran_for >= kWineOpenWait || (outcome.exit_code == 0 && !outcome.crashed)) return {};
    for (const QByteArray& line : outcome.error_output.split('\n')) {
        const QByteArray said = line.trimmed();
        // A first start in a new prefix says so on the same channel; that is no failure.
        if (said.startsWith("wine: ") && !said.contains("configuration")) return QString::fromUtf8(said);
    }
    return {};
}

QString ToQString(TextView text) { return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())); }

Text ToText(const QString& text) {
    return Text(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

QString MessageBoxText(TextView prompt) {
    QString text;
    text.reserve(static_cast<qsizetype>(prompt.size()));
    for (std::size_t i = 0; i < prompt.size(); ++i) {
        if (prompt[i] == u'\r') {
            text.append(u'\n');
            if (i + 1 < prompt.size() && prompt[i + 1] == u'\n') ++i;
        } else {
            text.append(QChar(prompt[i]));
        }
    }
    return text;
}

std::optional<std::filesystem::path> LinuxPath(const wine::Prefix& prefix, TextView path) {
    if (path.empty() || path.find(u'\0') != TextView::npos) return std::nullopt;
    if (HasDriveLetter(path)) return prefix.MapWindowsPath(path);
    std::string mapped = ToUtf8(path);
    for (char& c : mapped)
        if (c == '\\') c = '/';
    return std::filesystem::path(mapped);
}

QStringList SplitWindowsArguments(TextView parameters) {
    QStringList arguments;
    QString current;
    bool in_argument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const char16_t c = parameters[i];
        if (c == u'\\') {
            std::size_t slashes = 0;
            while (i < parameters.size() && parameters[i] == u'\\') {
                ++slashes;
                ++i;
            }
            // Backslashes are literal unless they stand before a quote.
            if (i < parameters.size() && parameters[i] == u'"') {
                current.append(QString(static_cast<qsizetype>(slashes / 2), u'\\'));
                if (slashes % 2 == 1) current.append(u'"');
                else quoted = !quoted;
            } else {
                current.append(QString(static_cast<qsizetype>(slashes), u'\\'));
                --i;
            }
            in_argument = true;
        } else if (c == u'"') {
            quoted = !quoted;
            in_argument = true;
        } else if ((c == u' ' || c == u'\t') && !quoted) {
            if (in_argument) arguments.append(current);
            current.clear();
            in_argument = false;
        } else {
            current.append(QChar(c));
            in_argument = true;
        }
    }
    if (in_argument) arguments.append(current);
    return arguments;
}

double MersenneRandom::Next() {
    // 53 random bits over 2^53: exactly representable, never 1.0.
    return static_cast<double>(m_engine() >> 11) * 0x1.0p-53;
}

QtDesktop::QtDesktop(std::shared_ptr<const wine::Prefix> prefix, std::unique_ptr<RandomSource> random,
                     std::shared_ptr<ProcessLauncher> launcher, std::filesystem::path program)
    : m_prefix(std::move(prefix)), m_random(std::move(random)), m_launcher(std::move(launcher)) {
    std::error_code error;
    if (program.empty()) program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && !program.empty()) m_application_folder = ProgramFilesFolder(program);
}

std::optional<std::filesystem::path> QtDesktop::LocalPath(TextView path) const {
    if (!m_application_folder.empty()) {
        const Text folder = FromUtf8(m_application_folder.native());
        if (path.starts_with(folder) &&
            (path.size() == folder.size() || path[folder.size()] == u'\\' || path[folder.size()] == u'/')) {
            std::string rest = ToUtf8(path.substr(folder.size()));
            for (char& c : rest)
                if (c == '\\') c = '/';
            return std::filesystem::path(m_application_folder.native() + rest);
        }
    }
    return LinuxPath(*m_prefix, path);
}

int QtDesktop::MsgBox(TextView prompt, int style, std::optional<TextView> caption) {
    QMessageBox box(IconOf(style), ToQString(caption ? *caption : TextView(m_title)), MessageBoxText(prompt),
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    const std::vector<ButtonChoice> choices = ButtonsOf(style);
    for (const ButtonChoice& choice : choices) box.addButton(choice.button);
    box.setDefaultButton(choices.front().button);
    box.setEscapeButton(choices.back().button);
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    for (const ButtonChoice& choice : choices)
        if (clicked == box.button(choice.button)) return choice.answer;
    return choices.back().answer;  // closed from the title bar: as Escape
}

Text QtDesktop::InputBox(TextView prompt, std::optional<TextView> caption, TextView default_text) {
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(ToQString(caption ? *caption : TextView(m_title)));
    dialog.setLabelText(MessageBoxText(prompt));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(ToQString(default_text));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted) return {};
    return ToText(dialog.textValue());
}

ShellStart QtDesktop::ShellOpen(std::intptr_t /*owner*/, TextView file, TextView parameters, TextView directory,
                                ShowCommand /*show*/, ProgramEnded ended) {
    if (file.empty()) return {false, u"The record names no program."};
    // The program belongs to the prefix, so it runs under Wine in that prefix;
    // Wine rebuilds the Windows command line from the arguments. $WINE names
    // the Wine to use, as Lutris and other runners set it.
    // The prefix and the paths in it go as their bytes: its folder's name need not be UTF-8.
    LaunchRequest request;
    request.program = WineProgram(std::getenv("WINE"));
    request.arguments.push_back(ToUtf8(file));
    for (const QString& argument : SplitWindowsArguments(parameters)) request.arguments.push_back(argument.toStdString());
    if (const auto folder = LocalPath(directory)) request.working_directory = folder->native();
    request.environment.emplace_back("WINEPREFIX", m_prefix->path().native());

    // The registry is on disk once the prefix's wineserver is gone: it
    // writes its copy when the last program has ended and it shuts down.
    LaunchRequest server_gone{WineServerProgram(std::getenv("WINESERVER"), request.program), {"-w"}, {},
                              request.environment};
    const std::weak_ptr<ProcessLauncher> launcher = m_launcher;
    auto on_end = [ended = std::move(ended), server_gone, launcher](const ProcessOutcome& outcome) {
        if (!ended) return;
        if (const QString failure = WineOpenFailure(outcome); !failure.isEmpty()) {
            ended({false, u"Wine could not open the program (" + ToText(failure) + u")."});
            return;
        }
        const auto alive = launcher.lock();
        if (!alive || !alive->StartWatched(server_gone, [ended](const ProcessOutcome&) { ended({true, {}}); }))
            ended({true, {}});
    };
    if (m_launcher->StartWatched(request, std::move(on_end))) return {true, {}};
    // Wine is started inside that folder, and one that cannot be entered
    // stops the start on its own: blaming Wine would send the user to
    // reinstall a Wine that works.
    if (const int error = FolderEntryError(request.working_directory))
        return {false, u"The folder " + Text(directory) + u" to start the uninstaller in cannot be entered: " +
                           FromUtf8(std::strerror(error)) +
                           u". Nothing was started; make sure the folder is there and yours to open, then try again."};
    return {false, u"Wine could not be started (\"" + FromUtf8(request.program) +
                       u"\"). Install Wine, or set WINE to the Wine program to use."};
}

void QtDesktop::StartCommand(TextView command_line, ShowCommand /*show*/) {
    QStringList words = QProcess::splitCommand(ToQString(command_line));
    if (words.isEmpty()) throw Failure(kFileNotFound);
    LaunchRequest request;
    request.program = words.takeFirst().toStdString();
    for (const QString& word : words) request.arguments.push_back(word.toStdString());
    if (!m_launcher->StartDetached(request)) throw Failure(kFileNotFound);
}

Text QtDesktop::HomePageCommandLine(TextView address) const { return u"xdg-open " + Text(address); }

FileAnswer QtDesktop::QueryFileState(TextView path) noexcept {
    try {
        if (HasDriveLetter(path)) return m_prefix->WindowsPathState(path);
        if (path.starts_with(u"\\\\") || path.starts_with(u"//")) return FileAnswer{FileState::Unknown, FileDoubt::NetworkPath};
        // The program's own files have Linux paths ("/usr/share/...\\HAND-M.CUR").
        if (path.empty() || (path[0] != u'/' && path[0] != u'\\')) return FileAnswer{FileState::Unknown, FileDoubt::NotFullPath};
        const auto mapped = LocalPath(path);
        if (!mapped) return FileAnswer{FileState::Unknown, FileDoubt::NotFullPath};
        struct stat status {};
        if (::stat(mapped->c_str(), &status) == 0) return FileAnswer{FileState::Exists};
        if (errno == ENOENT || errno == ENOTDIR) return FileAnswer{FileState::Missing};
        return FileAnswer{FileState::Unknown, errno == EACCES ? FileDoubt::AccessDenied : FileDoubt::Unreadable};
    } catch (...) {
        return FileAnswer{FileState::Unknown, FileDoubt::Unreadable};
    }
}

void QtDesktop::BeginFileTests() noexcept { m_prefix->BeginFileTests(); }
void QtDesktop::EndFileTests() noexcept { m_prefix->EndFileTests(); }

std::optional<Text> QtDesktop::EnvironmentVariable(TextView name, ProgramView view) {
    if (!m_hives) return std::nullopt;
    if (!m_environment) m_environment = wine::PrefixEnvironment::FromHives(*m_hives);
    return m_environment->Value(name, view);
}

bool QtDesktop::IsPlainFile(TextView path) {
    const auto mapped = LocalPath(path);
    if (!mapped) return false;
    const std::string name = mapped->filename().string();
    if (name.empty() || name.front() == '.') return false;
    struct stat status {};
    return ::stat(mapped->c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::shared_ptr<PointerPicture> QtDesktop::LoadPointer(TextView path) {
    const auto mapped = LocalPath(path);
    if (!mapped) throw Failure(kFileNotFound);
    // Opened by its bytes (as a QString its name may not spell them), without
    // waiting on anything but a plain file.
    const wine::ReadResult read = wine::ReadSmallFile(*mapped, kMaxPointerFileSize);
    if (read.error != wine::IoError::None) throw Failure(read.code == EFBIG ? kInvalidPicture : kFileNotFound);
    const std::optional<CursorImage> cursor =
        DecodeCursorFile(QByteArray(read.bytes.data(), static_cast<qsizetype>(read.bytes.size())));
    if (!cursor) throw Failure(kInvalidPicture);
    return std::make_shared<QtPointer>(QCursor(QPixmap::fromImage(cursor->image), cursor->hotspot.x(),
                                               cursor->hotspot.y()));
}

Text QtDesktop::ApplicationFolder() { return FromUtf8(m_application_folder.native()); }

std::filesystem::path ProgramFilesFolder(const std::filesystem::path& program) {
    const std::filesystem::path folder = program.parent_path();
    if (folder.filename() == "bin") {
        const std::filesystem::path shared = folder.parent_path() / "share" / "sweep-stale-records";
        struct stat status {};
        if (::stat(shared.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return shared;
    }
    return folder;
}

void QtDesktop::Randomize() {
    // The time of day, to the millisecond, as the seed.
    m_random->Seed(static_cast<std::uint64_t>(QTime::currentTime().msecsSinceStartOfDay()));
}

Text QtDesktop::RegistryWriteAdvice(const WriteFailure& failure, RegHandle root) const {
    const Text prefix = FromUtf8(m_prefix->path().string());
    const Text file = failure.file.empty() ? prefix + (root == kHkeyCurrentUser ? u"/user.reg" : u"/system.reg")
                                           : failure.file;
    switch (failure.kind) {
    case WriteFailureKind::ServerRunning:
        return FromUtf8(wine::ServerRunningAdvice(m_prefix->path()));
    case WriteFailureKind::OtherWriter:
        return u"Another copy of this program is changing the registry of the Wine prefix " + prefix +
               u" at this moment. Nothing was changed; try again in a moment.";
    case WriteFailureKind::LockNotOurs:
        return u"The lock file " + file +
               u", which keeps two programs from changing the registry at once, is not a plain file of yours. "
               u"Nothing was changed; remove that file, then try again.";
    case WriteFailureKind::ReadOnly:
        return u"The registry file " + file + u" is read-only or not yours to change. It was left unchanged.";
    case WriteFailureKind::DiskFull:
        return u"The disk that holds " + file + u" is full. The file was left unchanged; free some space and try again.";
    case WriteFailureKind::Damaged:
        return u"The file " + file +
               u" is damaged or not a registry file this program can rewrite safely. It was left unchanged.";
    case WriteFailureKind::Changing:
        return u"The registry file " + file +
               u" was being changed by another program each time it was read. It was left unchanged; close "
               u"that program, then try again.";
    case WriteFailureKind::System:
        return u"The registry file " + file + u" could not be rewritten: " + failure.system_text +
               u". It was left unchanged.";
    case WriteFailureKind::Refused:
        break;
    }
    return u"The registry file " + file + u" could not be rewritten (error " + DecimalText(failure.status) +
           u"). It was left unchanged.";
}

SavedBackup QtDesktop::SaveBackup(std::span<const std::uint8_t> bytes) {
    const std::filesystem::path folder = wine::BackupFolder(*m_prefix);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const CalendarTime time{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                            local.tm_hour,        local.tm_min,     local.tm_sec};
    const wine::NewFile written = wine::WriteNewFile(
        folder, [&](int attempt) { return ToUtf8(BackupFileName(time, attempt)); },
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (written.error == 0) {
        m_last_backup = written.path;
        return SavedBackup{true, FromUtf8(written.path.string()), {}};
    }
    return SavedBackup{false, FromUtf8(written.path.string()), FromUtf8(std::strerror(written.error)) + u"."};
}

void QtDesktop::DiscardBackup(TextView path) noexcept {
    try {
        if (m_last_backup.empty() || FromUtf8(m_last_backup.string()) != path) return;
        ::unlink(m_last_backup.c_str());
        m_last_backup.clear();
    } catch (...) {
        // The file stays, which loses nothing.
    }
}

void QtDesktop::EndProcess() {
    // At once: no handler runs, no destructor, nothing is saved.
    std::_Exit(0);
}

}  // namespace ssr
