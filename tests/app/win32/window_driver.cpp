// Driving the Windows window from a test: finding controls, clicking, reading the list.
#include "window_driver.h"

#include <cstdlib>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/win32/main_window.h"

namespace ssr::test {

bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
}

namespace {

std::wstring PathFromEnvironment(const wchar_t* variable) {
    const wchar_t* given = ::_wgetenv(variable);
    if (!given || !*given)
        throw std::runtime_error(std::string(variable, variable + std::wcslen(variable)) + " names no program");
    std::wstring path(given);
    if (path.front() == L'/') {
        for (auto& c : path)
            if (c == L'/') c = L'\\';
        path = L"Z:" + path;
    }
    return path;
}

}  // namespace

std::wstring ProgramPath() { return PathFromEnvironment(L"SSR_PROGRAM"); }

std::wstring StandInPath() { return PathFromEnvironment(L"SSR_STAND_IN"); }

std::wstring WindowText(HWND window) {
    const int length = static_cast<int>(::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = static_cast<int>(
        ::SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data())));
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    const int length = ::GetClassNameW(window, name, 256);
    return std::wstring(name, static_cast<std::size_t>(std::max(length, 0)));
}

RECT RectInParent(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// ---------------------------------------------------------------------------

RemoteBuffer::RemoteBuffer(HANDLE process, std::size_t size) : m_process(process) {
    m_address = ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!m_address) throw std::runtime_error("VirtualAllocEx failed");
}

RemoteBuffer::~RemoteBuffer() { ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE); }

void RemoteBuffer::Write(const void* data, std::size_t size, std::size_t offset) const {
    SIZE_T written = 0;
    if (!::WriteProcessMemory(m_process, at(offset), data, size, &written) || written != size)
        throw std::runtime_error("WriteProcessMemory failed");
}

void RemoteBuffer::Read(void* data, std::size_t size, std::size_t offset) const {
    SIZE_T read = 0;
    if (!::ReadProcessMemory(m_process, at(offset), data, size, &read) || read != size)
        throw std::runtime_error("ReadProcessMemory failed");
}

// ---------------------------------------------------------------------------

ProgramRun::ProgramRun() = default;

ProgramRun::~ProgramRun() {
    if (!Running()) return;
    if (!Close()) ::TerminateProcess(m_process.get(), 1);
}

namespace {

struct Search {
    DWORD process_id;
    const wchar_t* class_name;
    HWND except;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM lparam) {
    auto& search = *reinterpret_cast<Search*>(lparam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search.process_id || window == search.except || !::IsWindowVisible(window)) return TRUE;
    if (ClassName(window) != search.class_name) return TRUE;
    search.found = window;
    return FALSE;
}

}  // namespace

bool ProgramRun::Start() { return Launch(ProgramPath()) && WaitForForm(); }

bool ProgramRun::Launch(const std::wstring& program) {
    std::wstring command_line = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
        return false;
    m_launched = std::chrono::steady_clock::now();
    m_process.reset(info.hProcess);
    ::CloseHandle(info.hThread);
    m_process_id = info.dwProcessId;
    return true;
}

HWND ProgramRun::FindForm() const {
    HWND form = nullptr;
    for (HWND w = ::FindWindowExW(nullptr, nullptr, win32::kFormClassName, nullptr); w && !form;
         w = ::FindWindowExW(nullptr, w, win32::kFormClassName, nullptr)) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(w, &owner);
        if (owner == m_process_id) form = w;
    }
    return form;
}

bool ProgramRun::WaitForForm() {
    const bool shown = WaitFor(
        [this] {
            Search search{m_process_id, win32::kFormClassName, nullptr, nullptr};
            ::EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
            m_form = search.found;
            return m_form != nullptr || !Running();
        },
        90s);
    m_start_time =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_launched);
    return shown && m_form != nullptr;
}

std::optional<DWORD> ProgramRun::Close() {
    if (m_form) ::PostMessageW(m_form, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(m_process.get(), 15000) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(m_process.get(), &code);
    return code;
}

bool ProgramRun::Running() const {
    return m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

HWND ProgramRun::Control(std::string_view design_name) const {
    const ControlDesign* design = design::FindControl(design_name);
    if (!design) return nullptr;
    return Control(win32::ControlId(static_cast<std::size_t>(design - design::kControls.data())));
}

HWND ProgramRun::List() const { return Control("ListView1"); }
HWND ProgramRun::Button(int number) const { return Control("PushButton" + std::to_string(number)); }

HWND ProgramRun::FindTopLevel(const wchar_t* class_name) const {
    Search search{m_process_id, class_name, m_form, nullptr};
    ::EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ProgramRun::Settle() const {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(m_form, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result) != 0;
}

bool ProgramRun::Click(int number, std::chrono::milliseconds timeout) const {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(Button(number), BM_CLICK, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeout.count()),
                                 &result) != 0;
}

void ProgramRun::ClickLater(int number) const { ::PostMessageW(Button(number), BM_CLICK, 0, 0); }

int ProgramRun::RowCount() const { return static_cast<int>(::SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0)); }

namespace {
constexpr int kTextChars = 1024;

std::wstring ReadItemText(HWND list, const RemoteBuffer& remote, int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(LVITEMW)));
    item.cchTextMax = kTextChars;
    remote.Write(&item, sizeof(item));
    const auto length = static_cast<std::size_t>(
        ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), remote.lparam()));
    std::wstring text(std::min<std::size_t>(length, kTextChars - 1), L'\0');
    if (!text.empty()) remote.Read(text.data(), text.size() * sizeof(wchar_t), sizeof(LVITEMW));
    return text;
}
}  // namespace

std::wstring ProgramRun::ItemText(int row, int column) const {
    RemoteBuffer remote(Process(), sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    return ReadItemText(List(), remote, row, column);
}

std::vector<std::wstring> ProgramRun::Column(int column) const {
    RemoteBuffer remote(Process(), sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    std::vector<std::wstring> texts;
    const int count = RowCount();
    texts.reserve(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) texts.push_back(ReadItemText(List(), remote, row, column));
    return texts;
}

bool ProgramRun::Checked(int row) const {
    const auto state = static_cast<UINT>(
        ::SendMessageW(List(), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

std::vector<bool> ProgramRun::CheckStates() const {
    std::vector<bool> states;
    const int count = RowCount();
    for (int row = 0; row < count; ++row) states.push_back(Checked(row));
    return states;
}

bool ProgramRun::Selected(int row) const {
    return (::SendMessageW(List(), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void ProgramRun::SelectOnly(int row) const {
    RemoteBuffer remote(Process(), sizeof(LVITEMW));
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    remote.Write(&item, sizeof(item));
    ::SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), remote.lparam());
    if (row < 0) return;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    remote.Write(&item, sizeof(item));
    ::SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), remote.lparam());
}

std::optional<POINT> ProgramRun::CheckBoxPoint(int row) const {
    RemoteBuffer remote(Process(), sizeof(LVHITTESTINFO) + sizeof(RECT));
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    remote.Write(&bounds, sizeof(bounds), sizeof(LVHITTESTINFO));
    if (!::SendMessageW(List(), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                        reinterpret_cast<LPARAM>(remote.at(sizeof(LVHITTESTINFO)))))
        return std::nullopt;
    remote.Read(&bounds, sizeof(bounds), sizeof(LVHITTESTINFO));
    const int y = (bounds.top + bounds.bottom) / 2;
    for (int x = bounds.left; x < bounds.left + 60; ++x) {
        LVHITTESTINFO hit{};
        hit.pt = POINT{x, y};
        remote.Write(&hit, sizeof(hit));
        ::SendMessageW(List(), LVM_SUBITEMHITTEST, 0, remote.lparam());
        remote.Read(&hit, sizeof(hit));
        if (hit.iItem == row && (hit.flags & LVHT_ONITEMSTATEICON)) return POINT{x + 2, y};
    }
    return std::nullopt;
}

int ProgramRun::HeaderCount() const {
    HWND header = reinterpret_cast<HWND>(::SendMessageW(List(), LVM_GETHEADER, 0, 0));
    return static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
}

std::wstring ProgramRun::HeaderText(int column) const {
    constexpr int kChars = 256;
    HWND header = reinterpret_cast<HWND>(::SendMessageW(List(), LVM_GETHEADER, 0, 0));
    RemoteBuffer remote(Process(), sizeof(HDITEMW) + kChars * sizeof(wchar_t));
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(HDITEMW)));
    item.cchTextMax = kChars;
    remote.Write(&item, sizeof(item));
    if (!::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), remote.lparam())) return {};
    std::wstring text(kChars, L'\0');
    remote.Read(text.data(), text.size() * sizeof(wchar_t), sizeof(HDITEMW));
    text.resize(text.find(L'\0'));
    return text;
}

int ProgramRun::ColumnWidth(int column) const {
    return static_cast<int>(::SendMessageW(List(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

}  // namespace ssr::test
