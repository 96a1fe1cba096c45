#pragma once
// What the window tests need to drive the real program from outside: start
// it, find its windows, and read and change its list view through messages,
// with buffers placed in the program's own memory where a message carries a
// pointer.

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/handles.h"

namespace ssr::test {

using namespace std::chrono_literals;

// Polls `ready` until it answers true or `timeout` has passed.
[[nodiscard]] bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout);

// The Windows path of the program under test, from SSR_PROGRAM (a Unix path
// below Wine's Z: drive, or already a Windows path).
[[nodiscard]] std::wstring ProgramPath();
// The same for the stand-in uninstaller, from SSR_STAND_IN.
[[nodiscard]] std::wstring StandInPath();

[[nodiscard]] std::wstring WindowText(HWND window);
[[nodiscard]] std::wstring ClassName(HWND window);
// A window's rectangle in its parent's client coordinates.
[[nodiscard]] RECT RectInParent(HWND window);

// A block of memory inside another process, freed when it goes.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, std::size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    [[nodiscard]] void* address() const { return m_address; }
    [[nodiscard]] LPARAM lparam() const { return reinterpret_cast<LPARAM>(m_address); }
    [[nodiscard]] char* at(std::size_t offset) const { return static_cast<char*>(m_address) + offset; }
    void Write(const void* data, std::size_t size, std::size_t offset = 0) const;
    void Read(void* data, std::size_t size, std::size_t offset = 0) const;

private:
    HANDLE m_process;
    void* m_address = nullptr;
};

// One start of the program, closed (or, failing that, ended) when it goes.
class ProgramRun {
public:
    ProgramRun();
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Starts the program and waits until its main window is visible; false
    // when it did not show up in time.
    [[nodiscard]] bool Start();
    // Starts the program at `path` without waiting for anything.
    [[nodiscard]] bool Launch(const std::wstring& path);
    // Waits until the main window is visible.
    [[nodiscard]] bool WaitForForm();
    // The main window, shown or not yet; nullptr before it exists.
    [[nodiscard]] HWND FindForm() const;
    // Sends WM_CLOSE and waits for the process to end; its exit code.
    [[nodiscard]] std::optional<DWORD> Close();
    [[nodiscard]] bool Running() const;

    [[nodiscard]] HWND Form() const { return m_form; }
    [[nodiscard]] HWND Control(int id) const { return ::GetDlgItem(m_form, id); }
    // The control of a design row, by its design name.
    [[nodiscard]] HWND Control(std::string_view design_name) const;
    [[nodiscard]] HWND List() const;
    [[nodiscard]] HWND Button(int number) const;
    [[nodiscard]] HANDLE Process() const { return m_process.get(); }
    [[nodiscard]] DWORD ProcessId() const { return m_process_id; }
    // How long from CreateProcess until the window was visible.
    [[nodiscard]] std::chrono::milliseconds StartTime() const { return m_start_time; }

    // A visible top-level window of the program, other than Form1, of `class_name`.
    [[nodiscard]] HWND FindTopLevel(const wchar_t* class_name) const;
    // Waits until the program has handled everything sent so far.
    [[nodiscard]] bool Settle() const;

    // Clicks a button and waits for its handler to end; false when the
    // handler is still busy (a modal box is open, say) after `timeout`.
    [[nodiscard]] bool Click(int number, std::chrono::milliseconds timeout = 30s) const;
    // Clicks a button without waiting, for handlers that open a modal box.
    void ClickLater(int number) const;

    // The list view, read through its messages.
    [[nodiscard]] int RowCount() const;
    [[nodiscard]] std::wstring ItemText(int row, int column) const;
    [[nodiscard]] std::vector<std::wstring> Column(int column) const;
    [[nodiscard]] bool Checked(int row) const;
    [[nodiscard]] std::vector<bool> CheckStates() const;
    [[nodiscard]] bool Selected(int row) const;
    // Selects exactly `row` (or nothing for -1), focus included.
    void SelectOnly(int row) const;
    // A point on the row's check box, found by the list view's own hit test.
    [[nodiscard]] std::optional<POINT> CheckBoxPoint(int row) const;
    [[nodiscard]] int HeaderCount() const;
    [[nodiscard]] std::wstring HeaderText(int column) const;
    [[nodiscard]] int ColumnWidth(int column) const;

private:
    win32::UniqueKernelHandle m_process;
    DWORD m_process_id = 0;
    HWND m_form = nullptr;
    std::chrono::steady_clock::time_point m_launched;
    std::chrono::milliseconds m_start_time{0};
};

}  // namespace ssr::test
