#pragma once
// The Windows desktop: message and input boxes modal to the main window, the
// shell, watched registry keys, file tests, cursor files, the program's
// folder and title, random numbers and ending the process. Paths are Windows
// paths and go to the file system as they are.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "platform/desktop.h"
#include "platform/win32/folder_listings.h"
#include "platform/win32/handles.h"

namespace ssr::win32 {

// The input box, as a test program finds it: a top-level window of this class
// whose title is the caption, with the edit box and the two buttons as children.
inline constexpr wchar_t kInputBoxClass[] = L"SweepStaleRecordsInputBox";
inline constexpr int kInputBoxPromptId = 1000;
inline constexpr int kInputBoxEditId = 1001;
inline constexpr int kInputBoxOkId = IDOK;
inline constexpr int kInputBoxCancelId = IDCANCEL;

// A cursor loaded from a file; the main window shows it for pointer setting 99.
class Win32PointerPicture final : public PointerPicture {
public:
    explicit Win32PointerPicture(UniqueHcursor cursor) : m_cursor(std::move(cursor)) {}
    [[nodiscard]] HCURSOR cursor() const noexcept { return m_cursor.get(); }

private:
    UniqueHcursor m_cursor;
};

// The cursor of a picture this desktop loaded; null for any other picture.
[[nodiscard]] HCURSOR CursorOf(const PointerPicture* picture) noexcept;

class Win32Desktop final : public Desktop {
public:
    // Where Randomize takes its seed; the default reads the time of day.
    using SeedSource = std::function<std::uint32_t()>;

    // `title` is the program's until the start-up sets the shortened one.
    explicit Win32Desktop(TextView title, SeedSource seed_source = {});

    // The main window: message and input boxes are modal to it. Not owned.
    void SetOwner(HWND owner) noexcept { m_owner = owner; }
    [[nodiscard]] HWND Owner() const noexcept { return m_owner; }

    ~Win32Desktop() override;
    Win32Desktop(const Win32Desktop&) = delete;
    Win32Desktop& operator=(const Win32Desktop&) = delete;

    int MsgBox(TextView prompt, int style, std::optional<TextView> caption) override;
    Text InputBox(TextView prompt, std::optional<TextView> caption, TextView default_text) override;
    // A program named by its full path is started here, suspended, put in a
    // job of its own and only then let run, so that every program it starts
    // is in the job too (an uninstaller that copies itself elsewhere, starts
    // the copy and ends). Anything else, and any program that cannot be
    // started that way (one that must run as administrator), goes to the
    // shell's own start (ShellExecuteEx) as before, without its error boxes:
    // the reason comes back instead; what that starts is put in a job as it
    // runs. `ended` is told when the job has no program left, or, for a
    // program no job could take, when that program has ended; it runs on
    // this thread, from its message loop. Nothing waits on this thread.
    ShellStart ShellOpen(std::intptr_t owner, TextView file, TextView parameters, TextView directory,
                         ShowCommand show, ProgramEnded ended) override;
    // RegNotifyChangeKeyValue on the key, heard on a thread of the system's
    // pool and told from this thread's message loop.
    [[nodiscard]] std::unique_ptr<KeyWatch> WatchRegistryKey(RegHandle root, TextView subkey, std::uint32_t view,
                                                             KeyChanged changed) noexcept override;
    void StartCommand(TextView command_line, ShowCommand show) override;
    [[nodiscard]] Text HomePageCommandLine(TextView address) const override;
    [[nodiscard]] FileAnswer QueryFileState(TextView path) noexcept override;
    // In between, a folder many tests ask about is listed once (FolderListings).
    void BeginFileTests() noexcept override;
    void EndFileTests() noexcept override {
        m_listings.reset();
        m_run_drives.reset();
    }
    [[nodiscard]] std::optional<Text> EnvironmentVariable(TextView name, ProgramView view) override;
    [[nodiscard]] bool IsPlainFile(TextView path) override;
    [[nodiscard]] std::shared_ptr<PointerPicture> LoadPointer(TextView path) override;
    [[nodiscard]] Text ApplicationFolder() override;
    [[nodiscard]] Text ApplicationTitle() const override { return m_title; }
    void SetApplicationTitle(TextView title) override { m_title = Text(title); }
    void Randomize() override;
    double Rnd() override;
    [[nodiscard]] Text RegistryWriteAdvice(const WriteFailure& failure, RegHandle root) const override;
    // Below the user's local application data (%LOCALAPPDATA%).
    [[nodiscard]] SavedBackup SaveBackup(std::span<const std::uint8_t> bytes) override;
    void DiscardBackup(TextView path) noexcept override;
    [[noreturn]] void EndProcess() override;

    // Seeds from the time of day: milliseconds since local midnight.
    [[nodiscard]] static std::uint32_t TimeOfDaySeed();

private:
    // What the pool's threads post to the watch window names its watch by
    // number, never by address: a watch may be gone, and its memory taken
    // by another, before the message is read.
    using WatchId = ULONG_PTR;

    // A started program being waited for: every program in its job, or
    // the one program when no job could take it.
    struct Watch {
        WatchId id = 0;
        HWND window = nullptr;  // where its end is posted
        ProgramEnded ended;
        UniqueKernelHandle job;
        UniqueKernelHandle process;
        UniquePoolWait wait;  // the pool's wait for `process`; last, so it goes first
    };
    // A registry key being watched for subkeys that come or go.
    struct KeyWatchState {
        WatchId id = 0;
        HWND window = nullptr;  // where a change is posted
        KeyChanged changed;
        UniqueHkey key;
        UniqueKernelHandle changed_event;
        UniquePoolWait wait;  // the pool's wait for `changed_event`; last, so it goes first
    };
    class KeyWatchHandle;

    static void CALLBACK ProgramExited(void* watch, BOOLEAN timed_out);
    static void CALLBACK KeyChangeHeard(void* watch, BOOLEAN timed_out);
    static void CALLBACK ReadJobMessages(PTP_CALLBACK_INSTANCE instance, void* desktop, PTP_WORK work);
    static LRESULT CALLBACK WatchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    // A message-only window that hears the ends of started programs and the
    // changes of watched keys; made when first needed.
    [[nodiscard]] HWND WatchWindow();
    // A new job whose messages come to the port under `id`; empty when none can be made.
    [[nodiscard]] UniqueKernelHandle NewJob(WatchId id);
    // A new job that has taken `process`; empty when none could.
    [[nodiscard]] UniqueKernelHandle JobFor(WatchId id, HANDLE process);
    // Starts `file`, a program's full path, in a job of its own and follows it
    // when `ended` is given; false when it could not be started so, and nothing runs.
    [[nodiscard]] bool StartInJob(TextView file, TextView parameters, TextView directory, ShowCommand show,
                                  ProgramEnded& ended);
    // Waits for `job` to have no program left, or without a job for `process` to end.
    void Follow(WatchId id, HWND window, UniqueKernelHandle job, UniqueKernelHandle process, ProgramEnded ended);
    void ProgramEnd(WatchId id) noexcept;
    void KeyChange(WatchId id) noexcept;
    void StopKeyWatch(WatchId id) noexcept;

    [[nodiscard]] Text CaptionOrTitle(std::optional<TextView> caption) const;
    // The file system's own answer for a drive-rooted or network path.
    [[nodiscard]] static FileAnswer AskFileSystem(TextView path, bool network);

    HWND m_owner = nullptr;
    Text m_title;
    SeedSource m_seed_source;
    std::mt19937 m_random;
    UniqueHwnd m_watch_window;
    WatchId m_last_watch = 0;
    std::vector<std::unique_ptr<Watch>> m_watches;
    std::vector<std::unique_ptr<KeyWatchState>> m_key_watches;
    // One port hears every job; a work item of the pool reads it for as long as the desktop lives.
    UniqueKernelHandle m_job_port;
    UniquePoolWork m_job_reader;
    // What a key watch handed out holds: it stops nothing once the desktop has gone.
    std::shared_ptr<Win32Desktop*> m_alive = std::make_shared<Win32Desktop*>(this);
    std::optional<FolderListings> m_listings;  // only during a run of file tests
    std::optional<DWORD> m_run_drives;         // the drive letters, once asked in a run
};

}  // namespace ssr::win32
