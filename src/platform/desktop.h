#pragma once
// Everything the core asks of the desktop besides the registry and the list:
// message and input boxes, the shell, watching a registry key, file tests,
// pointer pictures, the application folder and title, random numbers and
// ending the process.
// Win32 and Qt implement it; tests use ScriptedDesktop, which records every box.
//
// Paths are Windows paths as the core builds them (folder + "\\HAND-M.CUR",
// "c:\\program files\\..."); a desktop maps them onto its own file system.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

// Message box styles: buttons in the low bits, the icon in bits 4..6.
inline constexpr int kVbOkOnly = 0;
inline constexpr int kVbExclamation = 48;
inline constexpr int kVbOk = 1;  // MsgBox result of the OK button

// Window styles for started programs, numbered as the desktop's show commands.
enum class ShowCommand : int { Hidden = 0, Normal = 1, MinimizedFocus = 2 };

// What a file test found out. Only Missing is a claim that the thing is gone.
enum class FileState { Exists, Missing, Unknown };

// Why a file test could not tell: data for the words the user reads, never
// a failure. None goes with Exists and Missing.
enum class FileDoubt {
    None,
    NotFullPath,    // no drive letter and root: relative, drive-relative, a bare name
    NetworkPath,    // a server's share, which may merely be away
    NoSuchDrive,    // the drive letter is not there now
    NotReady,       // a drive without its medium, a disk that does not answer
    AccessDenied,   // a folder on the way may not be read
    ShortName,      // a short (8.3) name that nothing here resolves
    Unreadable,     // any other error of the file system
};

struct FileAnswer {
    FileState state = FileState::Unknown;
    FileDoubt doubt = FileDoubt::None;

    friend bool operator==(const FileAnswer&, const FileAnswer&) = default;
};

// Whose eyes a path is read with. A record of the local machine's 32-bit
// place belongs to a 32-bit program: its %ProgramFiles% is the x86 folder,
// and its system32 is the 32-bit system folder.
enum class ProgramView { Native, ThirtyTwoBit };

// A loaded pointer picture; only the desktop that made it knows what is inside.
class PointerPicture {
public:
    virtual ~PointerPicture() = default;
};

// What came of asking the shell to start a program.
struct ShellStart {
    bool started = false;
    Text reason;  // why it did not start, in words for the user
};

// Told once, on the window's own thread, when a program the shell started
// has ended: `started` false when it turned out never to have run the
// program at all (a Wine that could not open it), with the reason.
using ProgramEnded = std::function<void(const ShellStart& outcome)>;

// A watch of a registry key, which ends when it goes. Only the desktop that
// made it knows what is inside; it must not outlive that desktop.
class KeyWatch {
public:
    virtual ~KeyWatch() = default;
};

// Told on the window's own thread when a watched key may have changed.
using KeyChanged = std::function<void()>;

// What became of a backup file.
struct SavedBackup {
    bool saved = false;
    Text path;    // the file written; when nothing was written, the folder it was meant for
    Text reason;  // why nothing was written, in words for the user
};

class Desktop {
public:
    virtual ~Desktop() = default;

    // A modal message box. Without a caption it shows the application title.
    virtual int MsgBox(TextView prompt, int style, std::optional<TextView> caption) = 0;
    // A modal input box; Cancel gives an empty text.
    virtual Text InputBox(TextView prompt, std::optional<TextView> caption, TextView default_text) = 0;

    // Asks the shell to open `file` with `parameters` and says whether it
    // started. `ended`, when given, is told once the started program has
    // ended, together with the programs it started, as far as the desktop
    // can follow them (an uninstaller that starts a copy of itself and ends
    // at once has not ended), without the window waiting for it; never when
    // the start failed or the program cannot be watched. An owner of 0 means
    // no owner window.
    virtual ShellStart ShellOpen(std::intptr_t owner, TextView file, TextView parameters, TextView directory,
                                 ShowCommand show, ProgramEnded ended) = 0;
    // Watches the key `subkey` below `root`, in the registry view `view`
    // (kKeyWow64_64Key, kKeyWow64_32Key or 0), for subkeys that come or go,
    // for as long as the watch lives: `changed` is told each time, on the
    // window's own thread, without the window waiting. A change may be told
    // that turns out to be none, so it is a reason to look, never an answer.
    // Null when the key cannot be watched (it is not there, or this desktop
    // has no way to watch it): then nothing is told. Never fails.
    [[nodiscard]] virtual std::unique_ptr<KeyWatch> WatchRegistryKey(RegHandle root, TextView subkey,
                                                                     std::uint32_t view,
                                                                     KeyChanged changed) noexcept = 0;
    // Starts a command line without waiting. Fails when it cannot be started.
    virtual void StartCommand(TextView command_line, ShowCommand show) = 0;
    // The command line that opens a web address in the user's browser.
    [[nodiscard]] virtual Text HomePageCommandLine(TextView address) const = 0;

    // What the file system says about `path`. Missing only for a definite
    // "not found" on a drive that is there; Unknown, with its doubt, when it
    // cannot tell (no such drive at the moment, a device that is not ready,
    // access denied, a short name nothing resolves, a kind of path this
    // desktop does not look up). A network path that is found is Exists;
    // one that is not is never Missing. Never fails.
    [[nodiscard]] virtual FileAnswer QueryFileState(TextView path) noexcept = 0;
    // Many file tests follow, until EndFileTests: a desktop may answer them
    // from what it learnt of a folder in between (one listing instead of a
    // search per file), and forgets it all at the end. Nothing by default.
    virtual void BeginFileTests() noexcept {}
    virtual void EndFileTests() noexcept {}
    // The value the system gives the environment variable `name` (any case)
    // in a program of `view`; nothing when it has none.
    [[nodiscard]] virtual std::optional<Text> EnvironmentVariable(TextView name, ProgramView view) = 0;
    // True for an existing plain file that is neither hidden nor a system file.
    [[nodiscard]] virtual bool IsPlainFile(TextView path) = 0;
    // Loads a pointer picture (a .cur file); fails when it is not one.
    [[nodiscard]] virtual std::shared_ptr<PointerPicture> LoadPointer(TextView path) = 0;

    [[nodiscard]] virtual Text ApplicationFolder() = 0;
    [[nodiscard]] virtual Text ApplicationTitle() const = 0;
    virtual void SetApplicationTitle(TextView title) = 0;

    // Seeds the generator from the time of day; Rnd gives uniform values in [0, 1).
    virtual void Randomize() = 0;
    virtual double Rnd() = 0;

    // What a store's `failure` to change a key below `root` means, and what
    // the user can do about it: one paragraph of the warning after a removal.
    [[nodiscard]] virtual Text RegistryWriteAdvice(const WriteFailure& failure, RegHandle root) const = 0;

    // Writes `bytes` as a new file in the user's folder for backups of removed
    // records (kBackupFolder below the local application data), named by the
    // date and time (BackupFileName), and returns only once the file and its
    // name are on disk. Never overwrites a file. The program never reads it back.
    [[nodiscard]] virtual SavedBackup SaveBackup(std::span<const std::uint8_t> bytes) = 0;
    // Removes the file the last SaveBackup wrote, `path`, when the click it
    // was for deleted nothing after all: a backup of records that are all
    // still there would only mislead. Never fails.
    virtual void DiscardBackup(TextView path) noexcept = 0;

    [[noreturn]] virtual void EndProcess() = 0;
};

// A run of file tests for as long as it lives: it ends on every way out of
// a handler, so no answer outlives the click that asked.
class FileTestRun {
public:
    explicit FileTestRun(Desktop& desktop) noexcept : m_desktop(desktop) { m_desktop.BeginFileTests(); }
    ~FileTestRun() { m_desktop.EndFileTests(); }
    FileTestRun(const FileTestRun&) = delete;
    FileTestRun& operator=(const FileTestRun&) = delete;

private:
    Desktop& m_desktop;
};

}  // namespace ssr
