// The Windows desktop: boxes, the shell, files, pointers and the program's folder.
#include "platform/win32/win32_desktop.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/backup_name.h"
#include "platform/failure.h"
#include "platform/short_names.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_registry.h"

namespace ssr::win32 {

namespace {

int ToShowWindow(ShowCommand show) {
    switch (show) {
    case ShowCommand::Hidden: return SW_HIDE;
    case ShowCommand::Normal: return SW_SHOWNORMAL;
    case ShowCommand::MinimizedFocus: return SW_SHOWMINIMIZED;
    }
    return SW_SHOWNORMAL;
}

// A starting failure, in the words the error report uses.
Failure StartFailure(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return Failure(kFileNotFound);
    case ERROR_ACCESS_DENIED: return Failure(u"Permission denied");
    default: return Failure(kInvalidProcedureCall);
    }
}

constexpr DWORD kErrorElevationRequired = 740;  // not in every SDK's headers

// Why the shell could not start a program, in words for the user.
Text StartFailureReason(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE: return u"The program file was not found.";
    case ERROR_ACCESS_DENIED: return u"Access to the program was denied.";
    case ERROR_NO_ASSOCIATION:
    case SE_ERR_NOASSOC: return u"Windows has no program to open it with.";
    case ERROR_BAD_EXE_FORMAT: return u"The file is not a program Windows can run.";
    case ERROR_CANCELLED: return u"The start was cancelled.";
    case kErrorElevationRequired: return u"The program needs to run as an administrator.";
    case ERROR_INVALID_NAME: return u"The command is not a valid file name.";
    default: return u"Windows could not start it (error " + DecimalText(static_cast<long>(error)) + u").";
    }
}

// Posted to the watch window when a started program has ended, and when a
// watched key has changed; the watch's number is the lparam.
constexpr UINT kProgramEndedMessage = WM_APP + 1;
constexpr UINT kKeyChangedMessage = WM_APP + 2;
constexpr wchar_t kWatchWindowClass[] = L"SweepStaleRecordsProgramWatch";
// The completion key that tells the reader of the jobs' port to stop; watches count from 1.
constexpr ULONG_PTR kStopReading = 0;

// A text with a zero inside would reach Windows cut short and name another file.
bool HasZero(TextView text) { return text.find(u'\0') != TextView::npos; }

// "C:\..." or "\\server\share\...": a path no search is made for.
bool IsFullPath(TextView path) {
    const bool drive_rooted = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/') &&
                              ((path[0] >= u'a' && path[0] <= u'z') || (path[0] >= u'A' && path[0] <= u'Z'));
    const bool network = path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') &&
                         (path[1] == u'\\' || path[1] == u'/');
    return drive_rooted || network;
}

// A program CreateProcess runs itself, named so that no search decides which.
// Anything else (a document, a batch file, a bare name the shell finds in
// its own places) is left to the shell.
bool IsProgramPath(TextView file) {
    if (!IsFullPath(file) || file.find(u'"') != TextView::npos) return false;
    const Text lower = LowerCase(file);
    return lower.ends_with(u".exe") || lower.ends_with(u".com");
}

// No "insert a disk" box from a file test on a drive that is not ready.
class QuietFileErrors {
public:
    QuietFileErrors() { ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &m_previous); }
    ~QuietFileErrors() { ::SetThreadErrorMode(m_previous, nullptr); }
    QuietFileErrors(const QuietFileErrors&) = delete;
    QuietFileErrors& operator=(const QuietFileErrors&) = delete;

private:
    DWORD m_previous = 0;
};

// --- The input box ---------------------------------------------------------
//
// Win32 has no input box, so it is a dialog built from an in-memory template
// laid out in dialog units: the prompt top left, OK and Cancel on the right,
// the edit box along the bottom.

struct InputBoxState {
    std::wstring prompt;
    std::wstring default_text;
    std::wstring answer;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;

class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy, std::wstring_view class_name, std::wstring_view title,
                   WORD point_size, std::wstring_view font) {
        PutDword(style);
        PutDword(0);  // extended style
        m_count_at = m_words.size();
        Put(0);       // item count, filled in as items come
        PutShort(0);
        PutShort(0);
        PutShort(cx);
        PutShort(cy);
        Put(0);  // no menu
        PutText(class_name);
        PutText(title);
        Put(point_size);
        PutText(font);
    }

    void AddItem(DWORD style, short x, short y, short cx, short cy, WORD id, WORD class_atom,
                 std::wstring_view text = {}) {
        if (m_words.size() % 2 != 0) Put(0);  // items start on a DWORD boundary
        PutDword(style | WS_CHILD | WS_VISIBLE);
        PutDword(0);
        PutShort(x);
        PutShort(y);
        PutShort(cx);
        PutShort(cy);
        Put(id);
        Put(0xFFFF);
        Put(class_atom);
        PutText(text);
        Put(0);       // no creation data
        ++m_words[m_count_at];
    }

    [[nodiscard]] const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void Put(WORD word) { m_words.push_back(word); }
    void PutShort(short value) { Put(static_cast<WORD>(value)); }
    void PutDword(DWORD value) {
        Put(LOWORD(value));
        Put(HIWORD(value));
    }
    void PutText(std::wstring_view text) {
        for (const wchar_t unit : text) Put(static_cast<WORD>(unit));
        Put(0);
    }

    std::vector<WORD> m_words;  // new[] storage is aligned for a DWORD
    std::size_t m_count_at = 0;
};

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        const auto* state = reinterpret_cast<const InputBoxState*>(lparam);
        ::SetDlgItemTextW(dialog, kInputBoxPromptId, state->prompt.c_str());
        ::SetDlgItemTextW(dialog, kInputBoxEditId, state->default_text.c_str());
        const HWND edit = ::GetDlgItem(dialog, kInputBoxEditId);
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        ::SetFocus(edit);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK: {
            auto* state = reinterpret_cast<InputBoxState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            const HWND edit = ::GetDlgItem(dialog, kInputBoxEditId);
            std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
            text.resize(static_cast<std::size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
            state->answer = std::move(text);
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:  // also Escape and the close box
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

// The dialog class has its own name so a test program can find the box.
void RegisterInputBoxClass(HINSTANCE instance) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (::GetClassInfoExW(instance, kInputBoxClass, &existing)) return;
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = ::DefDlgProcW;
    window_class.cbWndExtra = DLGWINDOWEXTRA;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kInputBoxClass;
    ::RegisterClassExW(&window_class);
}

}  // namespace

HCURSOR CursorOf(const PointerPicture* picture) noexcept {
    const auto* own = dynamic_cast<const Win32PointerPicture*>(picture);
    return own ? own->cursor() : nullptr;
}

Win32Desktop::Win32Desktop(TextView title, SeedSource seed_source)
    : m_title(title), m_seed_source(std::move(seed_source)) {}

Text Win32Desktop::CaptionOrTitle(std::optional<TextView> caption) const {
    return caption ? Text(*caption) : m_title;
}

int Win32Desktop::MsgBox(TextView prompt, int style, std::optional<TextView> caption) {
    // Files may come and go while the user reads the box.
    if (m_listings) m_listings->Forget();
    m_run_drives.reset();
    return ::MessageBoxW(m_owner, Wide(prompt).c_str(), Wide(CaptionOrTitle(caption)).c_str(),
                         static_cast<UINT>(style));
}

Text Win32Desktop::InputBox(TextView prompt, std::optional<TextView> caption, TextView default_text) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterInputBoxClass(instance);

    DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER, 250, 92,
                          kInputBoxClass, Wide(CaptionOrTitle(caption)), 8, L"MS Shell Dlg");
    // The prompt and the default text are set when the dialog starts.
    layout.AddItem(SS_LEFT | SS_NOPREFIX, 7, 7, 176, 56, static_cast<WORD>(kInputBoxPromptId), kStaticAtom);
    layout.AddItem(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 70, 236, 14,
                   static_cast<WORD>(kInputBoxEditId), kEditAtom);
    layout.AddItem(BS_DEFPUSHBUTTON | WS_TABSTOP, 188, 7, 55, 14, kInputBoxOkId, kButtonAtom, L"OK");
    layout.AddItem(BS_PUSHBUTTON | WS_TABSTOP, 188, 25, 55, 14, kInputBoxCancelId, kButtonAtom, L"Cancel");

    InputBoxState state{Wide(prompt), Wide(default_text), {}};
    const INT_PTR result = ::DialogBoxIndirectParamW(instance, layout.get(), m_owner, InputBoxProc,
                                                     reinterpret_cast<LPARAM>(&state));
    if (result == -1) throw Failure(u"The input box could not be shown");
    return result == IDOK ? FromWide(state.answer) : Text();
}

ShellStart Win32Desktop::ShellOpen(std::intptr_t owner, TextView file, TextView parameters, TextView directory,
                                   ShowCommand show, ProgramEnded ended) {
    if (HasZero(file) || HasZero(parameters) || HasZero(directory)) return {false, StartFailureReason(ERROR_INVALID_NAME)};
    if (IsProgramPath(file) && StartInJob(file, parameters, directory, show, ended)) return {true, {}};
    const std::wstring wide_file = Wide(file);
    const std::wstring wide_parameters = Wide(parameters);
    const std::wstring wide_directory = Wide(directory);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = reinterpret_cast<HWND>(owner);
    info.lpFile = wide_file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : wide_parameters.c_str();
    info.lpDirectory = directory.empty() ? nullptr : wide_directory.c_str();
    info.nShow = ToShowWindow(show);
    ::SetLastError(ERROR_SUCCESS);
    if (!::ShellExecuteExW(&info)) {
        DWORD error = ::GetLastError();
        // Some shells say why only in the old way, as a small number in hInstApp.
        if (error == ERROR_SUCCESS) error = static_cast<DWORD>(reinterpret_cast<INT_PTR>(info.hInstApp));
        return {false, StartFailureReason(error)};
    }
    UniqueKernelHandle process(info.hProcess);
    // A document handed to a program that was already running has no process of its own to wait for.
    if (!process || !ended) return {true, {}};
    if (const HWND window = WatchWindow()) {
        // It runs already: what it started before it was put in the job is not followed.
        const WatchId id = ++m_last_watch;
        UniqueKernelHandle job = JobFor(id, process.get());
        Follow(id, window, std::move(job), std::move(process), std::move(ended));
    }
    return {true, {}};
}

bool Win32Desktop::StartInJob(TextView file, TextView parameters, TextView directory, ShowCommand show,
                              ProgramEnded& ended) {
    const std::wstring program = Wide(file);
    std::wstring line = L"\"" + program + L"\"";  // CreateProcessW may write into it
    if (!parameters.empty()) line += L" " + Wide(parameters);
    const std::wstring folder = Wide(directory);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(ToShowWindow(show));
    PROCESS_INFORMATION started{};
    // A console program gets a console of its own, as from the shell.
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NEW_CONSOLE,
                          nullptr, directory.empty() ? nullptr : folder.c_str(), &startup, &started))
        return false;
    UniqueKernelHandle process(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);
    const HWND window = ended ? WatchWindow() : nullptr;
    const WatchId id = ++m_last_watch;
    UniqueKernelHandle job = window ? JobFor(id, process.get()) : UniqueKernelHandle();
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        // Never ran: the shell gets its turn, and says why if it cannot either.
        ::TerminateProcess(process.get(), ERROR_CANCELLED);
        return false;
    }
    if (window) Follow(id, window, std::move(job), std::move(process), std::move(ended));
    return true;
}

UniqueKernelHandle Win32Desktop::JobFor(WatchId id, HANDLE process) {
    UniqueKernelHandle job = NewJob(id);
    // A program that has ended already is taken by no job; nor is one whose
    // own job forbids it, or that this program may not change.
    if (job && !::AssignProcessToJobObject(job.get(), process)) job.reset();
    return job;
}

UniqueKernelHandle Win32Desktop::NewJob(WatchId id) {
    if (!m_job_port) {
        UniqueKernelHandle port(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
        if (!port) return {};
        UniquePoolWork reader(::CreateThreadpoolWork(ReadJobMessages, this, nullptr));
        if (!reader) return {};
        m_job_port = std::move(port);
        m_job_reader = std::move(reader);
        ::SubmitThreadpoolWork(m_job_reader.get());
    }
    UniqueKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) return {};
    // A program of the uninstaller that asks to leave the job may: it still
    // starts, and it is not waited for (a web page opened at the end, say).
    // Nothing here ends the programs when this one ends.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT port{reinterpret_cast<void*>(id), m_job_port.get()};
    if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !::SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &port, sizeof port))
        return {};
    return job;
}

void Win32Desktop::Follow(WatchId id, HWND window, UniqueKernelHandle job, UniqueKernelHandle process,
                          ProgramEnded ended) {
    auto watch = std::make_unique<Watch>();
    watch->id = id;
    watch->window = window;
    watch->ended = std::move(ended);
    if (job) {
        watch->job = std::move(job);
    } else {
        // A program that has ended already is heard at once.
        watch->process = std::move(process);
        HANDLE wait = nullptr;
        if (!::RegisterWaitForSingleObject(&wait, watch->process.get(), ProgramExited, watch.get(), INFINITE,
                                           WT_EXECUTEONLYONCE))
            return;
        watch->wait.reset(wait);
    }
    m_watches.push_back(std::move(watch));
}

// On a thread of the pool: only posts, so the end is handled on the window's thread.
void CALLBACK Win32Desktop::ProgramExited(void* context, BOOLEAN /*timed_out*/) {
    const auto* watch = static_cast<const Watch*>(context);
    ::PostMessageW(watch->window, kProgramEndedMessage, 0, static_cast<LPARAM>(watch->id));
}

// On a thread of the pool, for as long as the desktop lives: a job's last
// program has ended when the job says it has none left.
void CALLBACK Win32Desktop::ReadJobMessages(PTP_CALLBACK_INSTANCE instance, void* context, PTP_WORK /*work*/) {
    ::CallbackMayRunLong(instance);
    const auto* self = static_cast<const Win32Desktop*>(context);
    for (;;) {
        DWORD message = 0;
        ULONG_PTR id = kStopReading;
        OVERLAPPED* detail = nullptr;
        // Without a packet the port itself has failed, and there is nothing more to read.
        if (!::GetQueuedCompletionStatus(self->m_job_port.get(), &message, &id, &detail, INFINITE) && !detail) return;
        if (id == kStopReading) return;
        if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
            ::PostMessageW(self->m_watch_window.get(), kProgramEndedMessage, 0, static_cast<LPARAM>(id));
    }
}

HWND Win32Desktop::WatchWindow() {
    if (m_watch_window) return m_watch_window.get();
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (!::GetClassInfoExW(instance, kWatchWindowClass, &existing)) {
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = WatchWindowProc;
        window_class.hInstance = instance;
        window_class.lpszClassName = kWatchWindowClass;
        if (!::RegisterClassExW(&window_class)) return nullptr;
    }
    m_watch_window.reset(::CreateWindowExW(0, kWatchWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                           nullptr));
    if (m_watch_window)
        ::SetWindowLongPtrW(m_watch_window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return m_watch_window.get();
}

LRESULT CALLBACK Win32Desktop::WatchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kProgramEndedMessage || message == kKeyChangedMessage) {
        if (auto* self = reinterpret_cast<Win32Desktop*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
            const auto id = static_cast<WatchId>(lparam);
            if (message == kProgramEndedMessage) self->ProgramEnd(id);
            else self->KeyChange(id);
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

void Win32Desktop::ProgramEnd(WatchId id) noexcept {
    const auto it = std::find_if(m_watches.begin(), m_watches.end(), [&](const auto& w) { return w->id == id; });
    if (it == m_watches.end()) return;
    const ProgramEnded ended = std::move((*it)->ended);
    m_watches.erase(it);
    try {
        if (ended) ended({true, {}});
    } catch (...) {
        // Nothing may cross into the window procedure.
    }
}

// --- Watched keys ------------------------------------------------------------------

// What the core holds: dropping it stops the watch, if the desktop is still there.
class Win32Desktop::KeyWatchHandle final : public KeyWatch {
public:
    KeyWatchHandle(std::weak_ptr<Win32Desktop*> desktop, WatchId id) : m_desktop(std::move(desktop)), m_id(id) {}
    ~KeyWatchHandle() override {
        if (const auto desktop = m_desktop.lock()) (*desktop)->StopKeyWatch(m_id);
    }
    KeyWatchHandle(const KeyWatchHandle&) = delete;
    KeyWatchHandle& operator=(const KeyWatchHandle&) = delete;

private:
    std::weak_ptr<Win32Desktop*> m_desktop;
    WatchId m_id;
};

namespace {

// A notification is told once; it is asked for again after each.
bool ArmKeyNotification(HKEY key, HANDLE changed_event) {
    return ::RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME, changed_event, TRUE) == ERROR_SUCCESS;
}

}  // namespace

std::unique_ptr<KeyWatch> Win32Desktop::WatchRegistryKey(RegHandle root, TextView subkey, std::uint32_t view,
                                                         KeyChanged changed) noexcept {
    try {
        if (!changed || HasZero(subkey)) return nullptr;
        const HWND window = WatchWindow();
        if (!window) return nullptr;
        auto watch = std::make_unique<KeyWatchState>();
        watch->window = window;
        watch->changed = std::move(changed);
        if (::RegOpenKeyExW(Win32Registry::ToHkey(root), Wide(subkey).c_str(), 0, KEY_NOTIFY | (view & kKeyWow64Views),
                            watch->key.put()) != ERROR_SUCCESS)
            return nullptr;
        watch->changed_event.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!watch->changed_event || !ArmKeyNotification(watch->key.get(), watch->changed_event.get())) return nullptr;
        watch->id = ++m_last_watch;
        HANDLE wait = nullptr;
        if (!::RegisterWaitForSingleObject(&wait, watch->changed_event.get(), KeyChangeHeard, watch.get(), INFINITE,
                                           WT_EXECUTEDEFAULT))
            return nullptr;
        watch->wait.reset(wait);
        const WatchId id = watch->id;
        m_key_watches.push_back(std::move(watch));
        return std::make_unique<KeyWatchHandle>(m_alive, id);
    } catch (...) {
        return nullptr;
    }
}

// On a thread of the pool, each time the event is set: only posts.
void CALLBACK Win32Desktop::KeyChangeHeard(void* context, BOOLEAN /*timed_out*/) {
    const auto* watch = static_cast<const KeyWatchState*>(context);
    ::PostMessageW(watch->window, kKeyChangedMessage, 0, static_cast<LPARAM>(watch->id));
}

void Win32Desktop::KeyChange(WatchId id) noexcept {
    const auto it =
        std::find_if(m_key_watches.begin(), m_key_watches.end(), [&](const auto& w) { return w->id == id; });
    if (it == m_key_watches.end()) return;
    // Asked for again before the telling, so a change made meanwhile is told
    // too. A key that has gone itself can be asked no more; it is told once.
    (void)ArmKeyNotification((*it)->key.get(), (*it)->changed_event.get());
    try {
        // A copy: what is told may stop this very watch.
        const KeyChanged changed = (*it)->changed;
        changed();
    } catch (...) {
        // Nothing may cross into the window procedure.
    }
}

void Win32Desktop::StopKeyWatch(WatchId id) noexcept {
    std::erase_if(m_key_watches, [id](const auto& watch) { return watch->id == id; });
}

Win32Desktop::~Win32Desktop() {
    m_alive.reset();
    if (m_job_reader) {
        ::PostQueuedCompletionStatus(m_job_port.get(), 0, kStopReading, nullptr);
        m_job_reader.reset();
    }
    // The pool's waits go with their watches, each waiting for a call under way.
    m_watches.clear();
    m_key_watches.clear();
    if (m_watch_window) ::SetWindowLongPtrW(m_watch_window.get(), GWLP_USERDATA, 0);
}

void Win32Desktop::StartCommand(TextView command_line, ShowCommand show) {
    std::wstring line = Wide(command_line);  // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(ToShowWindow(show));
    PROCESS_INFORMATION started{};
    if (HasZero(command_line) ||
        !::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        throw StartFailure(HasZero(command_line) ? ERROR_INVALID_PARAMETER : ::GetLastError());
    // Not waiting: the handles go at once and the program runs on its own.
    const UniqueKernelHandle process(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);
}

Text Win32Desktop::HomePageCommandLine(TextView address) const { return u"explorer \"" + Text(address) + u"\""; }

namespace {

FileDoubt DoubtOfError(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED: return FileDoubt::AccessDenied;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_UNRECOGNIZED_VOLUME: return FileDoubt::NotReady;
    default: return FileDoubt::Unreadable;  // I/O errors, a name Windows refuses
    }
}

// Walks a drive-rooted path that was not found from its root: true when
// the first component the file system does not find is in short-name form.
// Such a name may stand for a long one on a volume that makes no short
// names, or made other ones, so its absence proves nothing.
bool UnresolvedShortName(TextView path) {
    std::size_t start = 3;
    while (start < path.size()) {
        std::size_t end = path.find_first_of(u"\\/", start);
        if (end == TextView::npos) end = path.size();
        const TextView part = path.substr(start, end - start);
        if (!part.empty() && part != u"." && part != u"..") {
            if (::GetFileAttributesW(Wide(path.substr(0, end)).c_str()) == INVALID_FILE_ATTRIBUTES)
                return IsShortNameForm(part);
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

FileAnswer Win32Desktop::QueryFileState(TextView path) noexcept {
    try {
        if (HasZero(path)) return FileAnswer{FileState::Unknown, FileDoubt::Unreadable};
        const bool drive_rooted = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/') &&
                                  ((path[0] >= u'a' && path[0] <= u'z') || (path[0] >= u'A' && path[0] <= u'Z'));
        const bool network = path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') &&
                             (path[1] == u'\\' || path[1] == u'/');
        if (!drive_rooted && !network) return FileAnswer{FileState::Unknown, FileDoubt::NotFullPath};
        // A drive letter the system does not have now (an unplugged disk, an
        // unmapped network drive) says nothing about the program.
        if (drive_rooted) {
            const unsigned letter = static_cast<unsigned>(LowerCaseUnit(path[0]) - u'a');
            // Wine looks at every drive letter for this; a run asks once.
            if (m_listings && !m_run_drives) m_run_drives = ::GetLogicalDrives();
            const DWORD drives = m_run_drives ? *m_run_drives : ::GetLogicalDrives();
            if ((drives & (1UL << letter)) == 0) return FileAnswer{FileState::Unknown, FileDoubt::NoSuchDrive};
        }
        const QuietFileErrors quiet;
        if (m_listings && drive_rooted) {
            const auto test = [](TextView asked) { return AskFileSystem(asked, false); };
            if (const auto answer = m_listings->Answer(path, test)) return *answer;
        }
        return AskFileSystem(path, network);
    } catch (...) {
        return FileAnswer{FileState::Unknown, FileDoubt::Unreadable};
    }
}

void Win32Desktop::BeginFileTests() noexcept {
    try {
        m_run_drives.reset();
        m_listings.emplace();
    } catch (...) {
        m_listings.reset();  // every test goes to the file system, as without a run
    }
}

FileAnswer Win32Desktop::AskFileSystem(TextView path, bool network) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return FileAnswer{FileState::Exists};
    const DWORD error = ::GetLastError();
    // A server that does not answer looks like one without the file.
    if (network) return FileAnswer{FileState::Unknown, FileDoubt::NetworkPath};
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        if (UnresolvedShortName(path)) return FileAnswer{FileState::Unknown, FileDoubt::ShortName};
        return FileAnswer{FileState::Missing};
    }
    return FileAnswer{FileState::Unknown, DoubtOfError(error)};
}

std::optional<Text> Win32Desktop::EnvironmentVariable(TextView name, ProgramView view) {
    if (name.empty() || HasZero(name) || name.find(u'=') != TextView::npos) return std::nullopt;
    // This program is 64-bit; a 32-bit one is given the x86 folders under the plain names.
    Text asked(name);
    if (view == ProgramView::ThirtyTwoBit) {
        const Text lower = LowerCase(name);
        if (lower == u"programfiles") asked = u"ProgramFiles(x86)";
        else if (lower == u"commonprogramfiles") asked = u"CommonProgramFiles(x86)";
    }
    const std::wstring wide = Wide(asked);
    std::wstring value(256, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wide.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return Text();
        }
        if (length < value.size()) {
            value.resize(length);
            return FromWide(value);
        }
        value.assign(length, L'\0');
    }
}

bool Win32Desktop::IsPlainFile(TextView path) {
    if (path.empty() || HasZero(path)) return false;
    const QuietFileErrors quiet;
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

std::shared_ptr<PointerPicture> Win32Desktop::LoadPointer(TextView path) {
    if (HasZero(path)) throw Failure(kFileNotFound);
    const std::wstring wide_path = Wide(path);
    UniqueHcursor cursor(::LoadCursorFromFileW(wide_path.c_str()));
    if (!cursor) {
        if (::GetFileAttributesW(wide_path.c_str()) == INVALID_FILE_ATTRIBUTES) throw Failure(kFileNotFound);
        throw Failure(kInvalidPicture);
    }
    return std::make_shared<Win32PointerPicture>(std::move(cursor));
}

Text Win32Desktop::ApplicationFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) throw Failure(kFileNotFound);
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // cut short: try again with more room
    }
    const std::size_t slash = path.rfind(L'\\');
    return FromWide(slash == std::wstring::npos ? std::wstring_view() : std::wstring_view(path).substr(0, slash));
}

std::uint32_t Win32Desktop::TimeOfDaySeed() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return ((now.wHour * 60U + now.wMinute) * 60U + now.wSecond) * 1000U + now.wMilliseconds;
}

void Win32Desktop::Randomize() { m_random.seed(m_seed_source ? m_seed_source() : TimeOfDaySeed()); }

double Win32Desktop::Rnd() {
    // 53 random bits over 2^53: every value is below 1, unlike a rounded float division.
    const std::uint64_t high = m_random() >> 5;  // 27 bits
    const std::uint64_t low = m_random() >> 6;   // 26 bits
    return static_cast<double>((high << 26) | low) / 9007199254740992.0;
}

Text Win32Desktop::RegistryWriteAdvice(const WriteFailure& failure, RegHandle root) const {
    // The Windows registry's own result code is its whole reason.
    const long status = failure.status;
    // Only the local machine's part needs an administrator; the user's own
    // records are refused for other reasons (a key protected by its owner).
    if (status == kErrorAccessDenied && root == kHkeyLocalMachine)
        return u"You have no right to change the local machine's part of the registry: "
               u"start this program as administrator (right-click it and choose \"Run as administrator\") "
               u"and remove them again.";
    if (status == kErrorAccessDenied)
        return u"The registry refused the change: the record's key is protected by its owner.";
    return u"The registry refused the change (error " + DecimalText(status) + u").";
}

namespace {

Text SystemMessage(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Text text = length && buffer ? FromWide(std::wstring_view(buffer, length)) : Text();
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    if (text.empty()) text = u"Error " + DecimalText(static_cast<long long>(error)) + u".";
    return text;
}

std::wstring LocalAppData() {
    PWSTR known = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &known)) && known)
        folder = known;
    ::CoTaskMemFree(known);
    if (folder.empty()) {
        wchar_t buffer[MAX_PATH * 4];
        const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH * 4);
        if (length > 0 && length < MAX_PATH * 4) folder.assign(buffer, length);
    }
    return folder;
}

// The data under a temporary name, flushed, then moved to the first free
// name: MoveFileEx without the replace flag never overwrites a file.
DWORD WriteNewFile(const std::wstring& folder, const std::function<std::wstring(int)>& name_for,
                   std::span<const std::uint8_t> bytes, std::wstring& written) {
    const std::wstring temporary = folder + L"\\.backup-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD error = ERROR_SUCCESS;
    std::size_t offset = 0;
    while (error == ERROR_SUCCESS && offset < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, 1U << 20));
        DWORD done = 0;
        if (!::WriteFile(file, bytes.data() + offset, chunk, &done, nullptr)) error = ::GetLastError();
        offset += done;
    }
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(file)) error = ::GetLastError();
    if (!::CloseHandle(file) && error == ERROR_SUCCESS) error = ::GetLastError();
    if (error != ERROR_SUCCESS) {
        ::DeleteFileW(temporary.c_str());
        return error;
    }
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const std::wstring target = folder + L"\\" + name_for(attempt);
        if (::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            written = target;
            return ERROR_SUCCESS;
        }
        error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    ::DeleteFileW(temporary.c_str());
    return error;
}

}  // namespace

SavedBackup Win32Desktop::SaveBackup(std::span<const std::uint8_t> bytes) {
    const std::wstring base = LocalAppData();
    if (base.empty()) return SavedBackup{false, u"%LOCALAPPDATA%\\" + Text(kBackupFolder), u"The folder is not known."};
    const std::wstring folder = base + L"\\" + Wide(kBackupFolder);
    const int made = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return SavedBackup{false, FromWide(folder), SystemMessage(static_cast<DWORD>(made))};
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const CalendarTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    std::wstring written;
    const DWORD error =
        WriteNewFile(folder, [&](int attempt) { return Wide(BackupFileName(time, attempt)); }, bytes, written);
    if (error != ERROR_SUCCESS) return SavedBackup{false, FromWide(folder), SystemMessage(error)};
    return SavedBackup{true, FromWide(written), {}};
}

void Win32Desktop::DiscardBackup(TextView path) noexcept {
    try {
        ::DeleteFileW(Wide(path).c_str());
    } catch (...) {
        // Out of memory for the name: the file stays, which loses nothing.
    }
}

void Win32Desktop::EndProcess() { ::ExitProcess(0); }

}  // namespace ssr::win32
