// The real Windows program, started under Wine on a virtual display and read
// through its window messages: the window against the design table, the list
// against the registry, and the buttons doing the whole cleaning job against
// Wine's own registry.

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/win32/main_window.h"
#include "application/button_colours.h"
#include "application/layout.h"
#include "operations/operations.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_desktop.h"
#include "window_driver.h"

namespace ssr::test {
namespace {

const std::wstring kUninstallKey(std::begin(kUninstallKeyPath), std::end(kUninstallKeyPath) - 1);
constexpr wchar_t kFolder[] = L"C:\\ssr window test";
constexpr wchar_t kMarkerFile[] = L"C:\\ssr window test\\marker.txt";
constexpr wchar_t kApplicationTitle[] = L"Sweep Stale Records Out Of The Installed";

std::wstring W(TextView text) { return std::wstring(text.begin(), text.end()); }
Text T(const std::wstring& text) { return Text(text.begin(), text.end()); }

// ---------------------------------------------------------------------------
// The records the tests put under the uninstall key, with the program files
// that exist and those that are gone.

struct Record {
    const wchar_t* key;
    const wchar_t* display_name;  // nullptr: no such value
    const wchar_t* uninstall;     // nullptr: no such value
    const wchar_t* existing_file; // below kFolder; nullptr: none made
    bool stale;                   // what Suggest should check
    bool with_subkey;
};

const Record kRecords[] = {
    {L"SsrWindowTest.Present", L"SSR Window Test Present Editor",
     L"\"C:\\ssr window test\\present\\unins000.exe\" /SILENT", L"present\\unins000.exe", false, false},
    {L"SsrWindowTest.Gone", L"SSR Window Test Gone Player", L"\"C:\\ssr window test\\gone\\unins000.exe\" /SILENT",
     nullptr, true, false},
    {L"SsrWindowTest.GoneUnquoted", L"SSR Window Test Gone Viewer", L"C:\\ssr window test\\gone2\\uninstall.exe /x",
     nullptr, true, false},
    {L"SsrWindowTest.Msi", L"SSR Window Test Msi Runtime", L"MsiExec.exe /X{1F2E3D4C-0000-4000-8000-00000000ABCD}",
     nullptr, false, false},
    {L"SsrWindowTest.Marker", L"SSR Window Test Marker Tool",
     L"C:\\windows\\system32\\cmd.exe /c echo /uninstall \"quoted arg\"> \"C:\\ssr window test\\marker.txt\"", nullptr,
     false, false},
    {L"SsrWindowTest.Suite", L"SSR Window Test Gone Suite", L"\"C:\\ssr window test\\suite\\remove.exe\"", nullptr,
     true, true},
    {L"SsrWindowTest.CannotStart", L"SSR Window Test Cannot Start", L"\"C:\\ssr window test\\nowhere\\unins000.exe\" /S",
     nullptr, true, false},
    // Its uninstaller takes the record away, as a real one does.
    {L"SsrWindowTest.SelfRemoving", L"SSR Window Test Self Removing",
     L"C:\\windows\\system32\\reg.exe delete "
     L"\"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SsrWindowTest.SelfRemoving\" /f /reg:64",
     nullptr, false, false},
    {L"SsrWindowTest.NoCommand", L"SSR Window Test No Command", nullptr, nullptr, false, false},
    {L"SsrWindowTest.NoName", nullptr, L"\"C:\\ssr window test\\gone\\unins001.exe\"", nullptr, false, false},
};

std::wstring EntryKey(const std::wstring& name) { return kUninstallKey + L"\\" + name; }

bool KeyExists(const std::wstring& name, HKEY root = HKEY_LOCAL_MACHINE, REGSAM view = 0) {
    win32::UniqueHkey key;
    return ::RegOpenKeyExW(root, EntryKey(name).c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

void SetText(HKEY key, const wchar_t* name, const wchar_t* value) {
    if (!value) return;
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

void CreateRecord(const std::wstring& name, const wchar_t* display_name, const wchar_t* uninstall,
                  HKEY root = HKEY_LOCAL_MACHINE, REGSAM view = 0) {
    win32::UniqueHkey key;
    ASSERT_EQ(::RegCreateKeyExW(root, EntryKey(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS)
        << "cannot create the test records; does the test run have a throwaway prefix?";
    SetText(key.get(), L"DisplayName", display_name);
    SetText(key.get(), L"UninstallString", uninstall);
}

std::wstring ReadText(HKEY key, const wchar_t* name) {
    DWORD bytes = 0;
    if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, nullptr,
                       &bytes) != ERROR_SUCCESS)
        return {};
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, text.data(),
                       &bytes) != ERROR_SUCCESS)
        return {};
    text.resize(wcslen(text.c_str()));
    return text;
}

// What the list should show: every record with a display name and an
// uninstall command, in the registry's own order. Records of others count too.
struct Listed {
    std::wstring key;
    std::wstring display_name;
};
std::vector<Listed> ListableRecords() {
    std::vector<Listed> listed;
    win32::UniqueHkey root;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), 0, KEY_READ, root.put()) != ERROR_SUCCESS)
        return listed;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(root.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        win32::UniqueHkey entry;
        if (::RegOpenKeyExW(root.get(), name, 0, KEY_READ, entry.put()) != ERROR_SUCCESS) continue;
        std::wstring display_name = ReadText(entry.get(), L"DisplayName");
        if (!display_name.empty() && !ReadText(entry.get(), L"UninstallString").empty())
            listed.push_back({name, std::move(display_name)});
    }
    return listed;
}

void WriteFileText(const std::wstring& path, const char* text) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    ::CloseHandle(file);
}

std::string ReadFileText(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) text.append(chunk, read);
    ::CloseHandle(file);
    return text;
}

// Wine's own `reg query` of the uninstall key in the 64-bit view, as text.
std::string RegQueryUninstallKey() {
    const std::wstring output = std::wstring(kFolder) + L"\\reg-query.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = ::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::wstring command = L"reg.exe query \"HKLM\\" + kUninstallKey + L"\" /reg:64";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                         &info)) {
        ::WaitForSingleObject(info.hProcess, 30000);
        ::CloseHandle(info.hProcess);
        ::CloseHandle(info.hThread);
    }
    ::CloseHandle(file);
    std::string text = ReadFileText(output);
    ::DeleteFileW(output.c_str());
    return text;
}

// No window manager runs on the test's virtual display, and Wine waits up to
// two seconds for one whenever a managed window (a message box, say) hides.
// Unmanaged windows, for the programs started from here on, skip that wait.
constexpr wchar_t kWineX11Key[] = L"Software\\Wine\\X11 Driver";
void SetUnmanagedWindows(bool unmanaged) {
    if (unmanaged) {
        const wchar_t no[] = L"N";
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kWineX11Key, L"Managed", REG_SZ, no, sizeof(no));
    } else {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kWineX11Key, L"Managed");
    }
}

// Makes the records and files before the first test, and removes them after the last.
class RecordsEnvironment final : public testing::Environment {
public:
    void SetUp() override {
        TearDown();  // what a failed earlier run may have left
        SetUnmanagedWindows(true);
        // Sizes come back as the program's window has them, at its own density.
        ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        ::CreateDirectoryW(kFolder, nullptr);
        for (const Record& record : kRecords) {
            CreateRecord(record.key, record.display_name, record.uninstall);
            if (record.with_subkey) CreateRecord(std::wstring(record.key) + L"\\Components", L"part", nullptr);
            if (record.existing_file) {
                const std::wstring path = std::wstring(kFolder) + L"\\" + record.existing_file;
                ::CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
                WriteFileText(path, "MZ");
            }
        }
    }
    void TearDown() override {
        for (const Record& record : kRecords) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, EntryKey(record.key).c_str());
        for (const Record& record : kRecords) {
            if (!record.existing_file) continue;
            const std::wstring path = std::wstring(kFolder) + L"\\" + record.existing_file;
            ::DeleteFileW(path.c_str());
            ::RemoveDirectoryW(path.substr(0, path.rfind(L'\\')).c_str());
        }
        ::DeleteFileW(kMarkerFile);
        ::RemoveDirectoryW(kFolder);
        SetUnmanagedWindows(false);
    }
};
[[maybe_unused]] testing::Environment* const kRecordsEnvironment =
    testing::AddGlobalTestEnvironment(new RecordsEnvironment);

int RowOfKey(const ProgramRun& run, const wchar_t* key) {
    const auto keys = run.Column(3);
    const auto it = std::find(keys.begin(), keys.end(), key);
    return it == keys.end() ? -1 : static_cast<int>(it - keys.begin());
}

HWND ControlOf(const ProgramRun& run, const ControlDesign& design) {
    if (design.kind != ControlKind::ListView && design.kind != ControlKind::PushButton) return nullptr;
    return run.Control(design.name);
}

// ---------------------------------------------------------------------------
// One start for the window's looks and for the handlers that leave the
// registry alone.

class FirstStart : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_run = new ProgramRun;
        s_started = s_run->Start();
        if (s_started) std::printf("window shown %lld ms after the start\n", static_cast<long long>(s_run->StartTime().count()));
    }
    static void TearDownTestSuite() {
        delete s_run;
        s_run = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_started) << "the program's window did not show up";
        ASSERT_TRUE(s_run->Running());
    }
    [[nodiscard]] static int Dpi() { return static_cast<int>(::GetDpiForWindow(s_run->Form())); }
    [[nodiscard]] static int Px(int twips) { return design::Pixels(twips, Dpi()); }

    static ProgramRun* s_run;
    static bool s_started;
};
ProgramRun* FirstStart::s_run = nullptr;
bool FirstStart::s_started = false;

TEST_F(FirstStart, CaptionIsTheFullProductTitle) {
    EXPECT_EQ(WindowText(s_run->Form()), W(design::kProductTitle));
    EXPECT_EQ(WindowText(s_run->Form()).size(), 59U);
}

TEST_F(FirstStart, FocusStartsOnTheListAndTabMovesIt) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(s_run->Form(), nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, s_run->List());

    // The Tab key itself, through the program's message loop: once round and back to the list.
    for (int press = 0; press < 7; ++press) ::PostMessageW(s_run->List(), WM_KEYDOWN, VK_TAB, 0);
    ASSERT_TRUE(s_run->Settle());
    ASSERT_TRUE(WaitFor([&] { return ::GetGUIThreadInfo(::GetWindowThreadProcessId(s_run->Form(), nullptr), &gui) &&
                                     gui.hwndFocus == s_run->List(); }, 5s));
    ::PostMessageW(s_run->List(), WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(WaitFor([&] { return ::GetGUIThreadInfo(::GetWindowThreadProcessId(s_run->Form(), nullptr), &gui) &&
                                     gui.hwndFocus == s_run->Button(3); }, 5s))
        << "Tab from the list goes to Suggest";
    ::SendMessageW(s_run->Form(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(s_run->List()), TRUE);
}

// The pointer shown once the real mouse rests at (x, y): the program must
// have seen the move (its loop has run past it) and the pointer must have
// held still for a few reads, since the move reaches the program later on a
// busy machine.
HCURSOR PointerAt(const ProgramRun& run, int x, int y) {
    ::SetCursorPos(x, y);
    (void)run.Settle();
    HCURSOR shown = nullptr;
    int steady = 0;
    (void)WaitFor([&] {
        CURSORINFO info{};
        info.cbSize = sizeof(info);
        ::GetCursorInfo(&info);
        steady = info.hCursor != nullptr && info.hCursor == shown ? steady + 1 : 0;
        shown = info.hCursor;
        return steady >= 3;
    }, 5s);
    return shown;
}

HCURSOR PointerOver(const ProgramRun& run, HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    return PointerAt(run, (rect.left + rect.right) / 2, rect.bottom - 3);
}

TEST_F(FirstStart, HandOverTheButtonsAndTheArrowOverTheListAndTheSurface) {
    const HCURSOR list = PointerOver(*s_run, s_run->List());
    const HCURSOR help = PointerOver(*s_run, s_run->Button(4));
    const HCURSOR remove = PointerOver(*s_run, s_run->Button(2));
    const HCURSOR list_again = PointerOver(*s_run, s_run->List());
    const HCURSOR suggest = PointerOver(*s_run, s_run->Button(3));
    // Between two buttons lies the window's own surface.
    RECT a{}, b{};
    ::GetWindowRect(s_run->Button(5), &a);
    ::GetWindowRect(s_run->Button(6), &b);
    const HCURSOR surface = PointerAt(*s_run, (a.left + a.right) / 2, (a.bottom + b.top) / 2);
    EXPECT_NE(list, nullptr);
    EXPECT_NE(help, list);
    EXPECT_EQ(remove, help);
    EXPECT_EQ(list_again, list);
    EXPECT_EQ(suggest, help);
    EXPECT_EQ(surface, list);
    ::SetCursorPos(0, 0);
}

TEST_F(FirstStart, WindowHasAFixedBorderWithMinimizeOnlyAndTheDesignClientSize) {
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(s_run->Form(), GWL_STYLE));
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    RECT client{};
    ASSERT_TRUE(::GetClientRect(s_run->Form(), &client));
    EXPECT_EQ(client.right - client.left, Px(design::kClientWidth));
    EXPECT_EQ(client.bottom - client.top, Px(design::kClientHeight));
}

TEST_F(FirstStart, EveryControlSitsAtItsDesignRectangleWithItsCaption) {
    int shown = 0;
    for (const ControlDesign& design : design::kControls) {
        SCOPED_TRACE(std::string(design.name));
        HWND control = ControlOf(*s_run, design);
        if (design.rect.width == 0) continue;  // components without a place
        ASSERT_NE(control, nullptr);
        ++shown;
        const RECT rect = RectInParent(control);
        EXPECT_EQ(rect.left, Px(design.rect.left));
        EXPECT_EQ(rect.top, Px(design.rect.top));
        EXPECT_EQ(rect.right - rect.left, Px(design.rect.width));
        EXPECT_EQ(rect.bottom - rect.top, Px(design.rect.height));
        EXPECT_EQ(WindowText(control), W(design.caption));
        EXPECT_EQ(ClassName(control), design.kind == ControlKind::ListView ? L"SysListView32" : L"Button");
        EXPECT_TRUE(::IsWindowVisible(control));
    }
    EXPECT_EQ(shown, 7);
}

// The list measures its texts in the font it draws its rows with: the
// design's bold Arial, not the regular weight. (Another process cannot read
// the font itself: under Wine, WM_GETFONT answers it only in-process.)
TEST_F(FirstStart, ListDrawsItsRowsInTheDesignFont) {
    const std::wstring sample = L"SSR Window Test Present Editor";
    const auto width_in = [&](LONG weight) {
        LOGFONTW design{};
        design.lfHeight = -static_cast<LONG>(std::lround(design::kListFont.points * Dpi() / 72.0));
        design.lfWeight = weight;
        design.lfCharSet = DEFAULT_CHARSET;
        const std::wstring face = W(FromUtf8(design::kListFont.face));
        face.copy(design.lfFaceName, LF_FACESIZE - 1);
        const HDC dc = ::CreateCompatibleDC(nullptr);
        const HFONT font = ::CreateFontIndirectW(&design);
        const HGDIOBJ old = ::SelectObject(dc, font);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, sample.c_str(), static_cast<int>(sample.size()), &size);
        ::SelectObject(dc, old);
        ::DeleteObject(font);
        ::DeleteDC(dc);
        return size.cx;
    };
    ASSERT_NE(width_in(FW_BOLD), width_in(FW_NORMAL)) << "this system cannot tell the weights apart";
    RemoteBuffer remote(s_run->Process(), (sample.size() + 1) * sizeof(wchar_t));
    remote.Write(sample.c_str(), (sample.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(::SendMessageW(s_run->List(), LVM_GETSTRINGWIDTHW, 0, remote.lparam()), width_in(FW_BOLD));
}

TEST_F(FirstStart, TabFollowsTheDesignOrderFromTheList) {
    std::vector<const ControlDesign*> order;
    for (const auto& design : design::kControls)
        if (design.tab_index >= 0) order.push_back(&design);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->tab_index < b->tab_index; });
    ASSERT_EQ(order.front()->name, "ListView1");

    HWND at = s_run->List();
    for (std::size_t i = 1; i <= order.size(); ++i) {
        const ControlDesign& expected = *order[i % order.size()];
        SCOPED_TRACE(std::string(expected.name));
        at = ::GetNextDlgTabItem(s_run->Form(), at, FALSE);
        EXPECT_EQ(at, ControlOf(*s_run, expected));
    }
}

TEST_F(FirstStart, ListShowsEveryListableRecordInRegistryOrder) {
    const auto expected = ListableRecords();
    ASSERT_EQ(s_run->RowCount(), static_cast<int>(expected.size()));
    const auto names = s_run->Column(0);
    const auto keys = s_run->Column(3);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(names[i], expected[i].display_name);
        EXPECT_EQ(keys[i], expected[i].key);
    }
    EXPECT_EQ(RowOfKey(*s_run, L"SsrWindowTest.NoCommand"), -1);
    EXPECT_EQ(RowOfKey(*s_run, L"SsrWindowTest.NoName"), -1);
    const int msi = RowOfKey(*s_run, L"SsrWindowTest.Msi");
    ASSERT_GE(msi, 0);
    EXPECT_EQ(s_run->ItemText(msi, 2), L"IGNORE ME");
}

TEST_F(FirstStart, ListHasItsColumnsWithOnlyTheFirstOpen) {
    const wchar_t* headers[] = {L"Programs and Features Entries", L"Uninstall", L"FileExists", L"KeyName", L"Location"};
    ASSERT_EQ(s_run->HeaderCount(), 5);
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(s_run->HeaderText(column), headers[column]);
        EXPECT_EQ(s_run->ColumnWidth(column), column == 0 ? Px(7000) : 0);
    }
}

TEST_F(FirstStart, HintBelongsToTheListOnly) {
    HWND tooltip = s_run->FindTopLevel(TOOLTIPS_CLASSW);
    if (!tooltip) {
        // A tooltip window stays hidden until it shows; look among all of them.
        for (HWND w = ::FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); w;
             w = ::FindWindowExW(nullptr, w, TOOLTIPS_CLASSW, nullptr)) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(w, &pid);
            if (pid == s_run->ProcessId() && ::GetWindow(w, GW_OWNER) == s_run->Form()) tooltip = w;
        }
    }
    ASSERT_NE(tooltip, nullptr);
    // Two tools: the list and its column headers, a window of their own inside it.
    const int tools = static_cast<int>(::SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    ASSERT_EQ(tools, 2);
    HWND header = reinterpret_cast<HWND>(::SendMessageW(s_run->List(), LVM_GETHEADER, 0, 0));

    constexpr int kChars = 256;
    RemoteBuffer remote(s_run->Process(), sizeof(TOOLINFOW) + kChars * sizeof(wchar_t));
    for (int index = 0; index < tools; ++index) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.lpszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(TOOLINFOW)));
        remote.Write(&tool, sizeof(tool));
        ASSERT_TRUE(::SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(index), remote.lparam()));
        remote.Read(&tool, sizeof(tool));
        EXPECT_EQ(reinterpret_cast<HWND>(tool.uId), index == 0 ? s_run->List() : header);
        // The text is asked for when the hint shows: away from any row, the design's hint.
        EXPECT_EQ(tool.lpszText, LPSTR_TEXTCALLBACKW);
        ::SetCursorPos(0, 0);
        tool.lpszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(TOOLINFOW)));
        remote.Write(&tool, sizeof(tool));
        ::SendMessageW(tooltip, TTM_GETTEXTW, kChars, remote.lparam());
        std::wstring text(kChars, L'\0');
        remote.Read(text.data(), text.size() * sizeof(wchar_t), sizeof(TOOLINFOW));
        text.resize(text.find(L'\0'));
        EXPECT_EQ(text, W(design::kListHint));
    }
}

TEST_F(FirstStart, CheckBoxesFollowClicksAndTheSpaceKey) {
    ASSERT_GE(s_run->RowCount(), 2);
    const auto before = s_run->CheckStates();
    const auto point = s_run->CheckBoxPoint(0);
    ASSERT_TRUE(point.has_value());
    const LPARAM at = MAKELPARAM(point->x, point->y);

    for (bool expected : {!before[0], static_cast<bool>(before[0])}) {
        ::SendMessageW(s_run->List(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(s_run->List(), WM_LBUTTONUP, 0, at);
        EXPECT_EQ(s_run->Checked(0), expected);
        EXPECT_EQ(s_run->Checked(1), before[1]);
    }
    s_run->SelectOnly(1);
    for (bool expected : {!before[1], static_cast<bool>(before[1])}) {
        ::SendMessageW(s_run->List(), WM_KEYDOWN, VK_SPACE, 0);
        ::SendMessageW(s_run->List(), WM_KEYUP, VK_SPACE, 0);
        EXPECT_EQ(s_run->Checked(1), expected);
        EXPECT_EQ(s_run->Checked(0), before[0]);
    }
    s_run->SelectOnly(-1);
    EXPECT_EQ(s_run->CheckStates(), before);
}

TEST_F(FirstStart, TypingInTheListFindsTheNextNameStartingWithIt) {
    const auto names = s_run->Column(0);
    const std::wstring typed = L"ssr WINDOW test g";
    const auto first = std::find_if(names.begin(), names.end(), [&](const std::wstring& name) {
        return LowerCase(T(name)).starts_with(LowerCase(T(typed)));
    });
    ASSERT_NE(first, names.end());

    RemoteBuffer remote(s_run->Process(), sizeof(LVFINDINFOW) + 64 * sizeof(wchar_t));
    remote.Write(typed.c_str(), (typed.size() + 1) * sizeof(wchar_t), sizeof(LVFINDINFOW));
    LVFINDINFOW find{};
    find.flags = LVFI_STRING | LVFI_PARTIAL | LVFI_WRAP;
    find.psz = reinterpret_cast<const wchar_t*>(remote.at(sizeof(LVFINDINFOW)));
    remote.Write(&find, sizeof(find));
    const auto row = static_cast<int>(first - names.begin());
    EXPECT_EQ(::SendMessageW(s_run->List(), LVM_FINDITEMW, static_cast<WPARAM>(-1), remote.lparam()), row);
    find.psz = reinterpret_cast<const wchar_t*>(remote.at(sizeof(LVFINDINFOW) + 2));  // "sr window..." starts no name
    remote.Write(&find, sizeof(find));
    EXPECT_EQ(::SendMessageW(s_run->List(), LVM_FINDITEMW, static_cast<WPARAM>(-1), remote.lparam()), -1);
}

TEST_F(FirstStart, HelpShowsTheHelpTextUnderTheApplicationTitle) {
    // Enter on the focused button, through the program's own keyboard handling.
    ::SendMessageW(s_run->Form(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(s_run->Button(4)), TRUE);
    ::PostMessageW(s_run->Button(4), WM_KEYDOWN, VK_RETURN, 0);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = s_run->FindTopLevel(L"#32770")) != nullptr; }, 20s));
    EXPECT_EQ(WindowText(box), kApplicationTitle);
    EXPECT_EQ(WindowText(::GetDlgItem(box, 0xFFFF)), W(HelpText()));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(box); }, 20s));
    EXPECT_TRUE(s_run->Settle());
    ::SendMessageW(s_run->Form(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(s_run->List()), TRUE);
}

// Types `text` into the input box that a click opened, then OK or Cancel.
enum class Answer { Ok, Cancel };
void AnswerInputBox(const ProgramRun& run, const wchar_t* text, Answer answer) {
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = run.FindTopLevel(win32::kInputBoxClass)) != nullptr; }, 20s));
    EXPECT_EQ(WindowText(box), kApplicationTitle);
    ::SendMessageW(::GetDlgItem(box, win32::kInputBoxEditId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    const int button = answer == Answer::Ok ? win32::kInputBoxOkId : win32::kInputBoxCancelId;
    ::PostMessageW(::GetDlgItem(box, button), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 20s));
    ASSERT_TRUE(run.Settle());
}

TEST_F(FirstStart, SelectByTextChecksThroughTheRealInputBox) {
    const auto names = s_run->Column(0);
    auto expected = s_run->CheckStates();

    // Cancel gives an empty text, which every name contains: nothing to add.
    s_run->ClickLater(6);
    AnswerInputBox(*s_run, L"anything", Answer::Cancel);
    EXPECT_EQ(s_run->CheckStates(), expected);

    s_run->ClickLater(5);
    AnswerInputBox(*s_run, L"wINDOW test GONE", Answer::Ok);
    int matched = 0;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (Contains(LowerCase(T(names[i])), u"window test gone")) expected[i] = true, ++matched;
    EXPECT_EQ(matched, 3);
    EXPECT_EQ(s_run->CheckStates(), expected);
}

TEST_F(FirstStart, UninstallStartsTheSelectedCommandWithItsParameters) {
    ::DeleteFileW(kMarkerFile);
    const int row = RowOfKey(*s_run, L"SsrWindowTest.Marker");
    ASSERT_GE(row, 0);
    s_run->SelectOnly(row);
    ASSERT_TRUE(s_run->Selected(row));
    ASSERT_TRUE(s_run->Click(1));
    std::string marker;
    EXPECT_TRUE(WaitFor(
        [&] {
            marker = ReadFileText(kMarkerFile);
            return marker.find('\n') != std::string::npos;
        },
        30s));
    while (!marker.empty() && (marker.back() == '\n' || marker.back() == '\r' || marker.back() == ' ')) marker.pop_back();
    EXPECT_EQ(marker, "/uninstall \"quoted arg\"");
    EXPECT_TRUE(KeyExists(L"SsrWindowTest.Marker")) << "uninstalling is not removing the record";
}

TEST_F(FirstStart, UninstallThatCannotStartWarnsNamingTheCommand) {
    const int row = RowOfKey(*s_run, L"SsrWindowTest.CannotStart");
    ASSERT_GE(row, 0);
    s_run->SelectOnly(row);
    s_run->ClickLater(1);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = s_run->FindTopLevel(L"#32770")) != nullptr; }, 20s));
    const std::wstring text = WindowText(::GetDlgItem(box, 0xFFFF));
    EXPECT_NE(text.find(L"could not be started"), std::wstring::npos) << ToUtf8(T(text));
    EXPECT_NE(text.find(L"\"C:\\ssr window test\\nowhere\\unins000.exe\" /S"), std::wstring::npos) << ToUtf8(T(text));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(box); }, 20s));
    EXPECT_TRUE(s_run->Settle());
    EXPECT_GE(RowOfKey(*s_run, L"SsrWindowTest.CannotStart"), 0);
}

TEST_F(FirstStart, UninstallerThatRemovesItsRecordTakesTheRowAwayAndSelectsNoOther) {
    const int row = RowOfKey(*s_run, L"SsrWindowTest.SelfRemoving");
    ASSERT_GE(row, 0);
    const int rows = s_run->RowCount();
    s_run->SelectOnly(row);
    ASSERT_TRUE(s_run->Click(1));
    EXPECT_TRUE(WaitFor([&] { return RowOfKey(*s_run, L"SsrWindowTest.SelfRemoving") < 0; }, 60s));
    EXPECT_FALSE(KeyExists(L"SsrWindowTest.SelfRemoving"));
    EXPECT_EQ(s_run->RowCount(), rows - 1);
    EXPECT_EQ(::SendMessageW(s_run->List(), LVM_GETSELECTEDCOUNT, 0, 0), 0);
}

TEST_F(FirstStart, HintOverARowNamesTheRecordItsCommandAndSuggestsVerdict) {
    const int row = RowOfKey(*s_run, L"SsrWindowTest.Gone");
    ASSERT_GE(row, 0);
    ::SendMessageW(s_run->List(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    RemoteBuffer rect_buffer(s_run->Process(), sizeof(RECT));
    RECT rect{LVIR_LABEL, 0, 0, 0};
    rect_buffer.Write(&rect, sizeof rect);
    ASSERT_TRUE(::SendMessageW(s_run->List(), LVM_GETITEMRECT, static_cast<WPARAM>(row), rect_buffer.lparam()));
    rect_buffer.Read(&rect, sizeof rect);
    POINT at{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ::ClientToScreen(s_run->List(), &at);
    ::SetCursorPos(at.x, at.y);

    HWND tooltip = nullptr;
    for (HWND w = ::FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); w && !tooltip;
         w = ::FindWindowExW(nullptr, w, TOOLTIPS_CLASSW, nullptr))
        if (::GetWindow(w, GW_OWNER) == s_run->Form()) tooltip = w;
    ASSERT_NE(tooltip, nullptr);
    constexpr int kChars = 1024;
    RemoteBuffer remote(s_run->Process(), sizeof(TOOLINFOW) + kChars * sizeof(wchar_t));
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = s_run->Form();
    tool.uId = reinterpret_cast<UINT_PTR>(s_run->List());
    tool.lpszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(TOOLINFOW)));
    remote.Write(&tool, sizeof(tool));
    ::SendMessageW(tooltip, TTM_GETTEXTW, kChars, remote.lparam());
    std::wstring text(kChars, L'\0');
    remote.Read(text.data(), text.size() * sizeof(wchar_t), sizeof(TOOLINFOW));
    text.resize(text.find(L'\0'));
    ::SetCursorPos(0, 0);
    EXPECT_EQ(text, W(design::kListHint) + L"\r\n64-bit: SsrWindowTest.Gone\r\nSSR Window Test Gone Player\r\n"
                    L"\"C:\\ssr window test\\gone\\unins000.exe\" /SILENT\r\n"
                    L"not found: c:\\ssr window test\\gone\\unins000.exe");
}

TEST_F(FirstStart, ClosingTheWindowEndsTheProcess) {
    const auto code = s_run->Close();
    ASSERT_TRUE(code.has_value()) << "the process did not end";
    EXPECT_EQ(*code, 0U);
}

// ---------------------------------------------------------------------------
// Uninstallers that go on after their first program has ended, and records
// that go while they run: a stand-in uninstaller takes the steps each row
// names (tests/support/stand_in_uninstaller.cpp) on a record of its own.

struct StandInCase {
    const char* label;
    const wchar_t* place;  // machine64, machine32 or user, as the stand-in names them
    const wchar_t* steps;
    bool gone_while_running;  // the row goes while the stand-in waits for its release
    bool gone_at_the_end;
};

void PrintTo(const StandInCase& row, std::ostream* os) { *os << row.label; }

class StandInUninstaller : public testing::TestWithParam<StandInCase> {
protected:
    void SetUp() override {
        const StandInCase& row = GetParam();
        m_root = std::wstring(row.place) == L"user" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        m_view = std::wstring(row.place) == L"machine32" ? KEY_WOW64_32KEY
                 : std::wstring(row.place) == L"machine64" ? KEY_WOW64_64KEY : 0;
        m_key = L"SsrWindowTest.StandIn." + std::wstring(row.label, row.label + std::strlen(row.label));
        m_folder = std::filesystem::temp_directory_path() / m_key;
        TearDown();
        std::filesystem::create_directories(m_folder);
        const std::wstring command = L"\"" + StandInPath() + L"\" \"" + m_folder.wstring() + L"\" " + row.place + L" " +
                                     m_key + L" " + row.steps;
        CreateRecord(m_key, L"SSR Window Test Stand-In", command.c_str(), m_root, m_view);
    }
    void TearDown() override {
        ::RegDeleteKeyExW(m_root, EntryKey(m_key).c_str(), m_view, 0);
        // A copy of the stand-in may still be on its way out.
        (void)WaitFor([&] {
            std::error_code ignored;
            std::filesystem::remove_all(m_folder, ignored);
            return !std::filesystem::exists(m_folder);
        }, 10s);
    }
    HKEY m_root = HKEY_LOCAL_MACHINE;
    REGSAM m_view = 0;
    std::wstring m_key;
    std::filesystem::path m_folder;
};

TEST_P(StandInUninstaller, RowGoesOnlyOnceTheRecordIsGone) {
    const StandInCase& row = GetParam();
    ProgramRun run;
    ASSERT_TRUE(run.Start());
    const auto row_gone = [&] { return RowOfKey(run, m_key.c_str()) < 0; };
    ASSERT_FALSE(row_gone()) << "the record is not listed";
    run.SelectOnly(RowOfKey(run, m_key.c_str()));
    ASSERT_TRUE(run.Click(1));
    // A restarting stand-in's copy says so only once the first program has ended.
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(m_folder / L"running"); }, 30s));
    EXPECT_EQ(WaitFor(row_gone, row.gone_while_running ? 30s : 1500ms), row.gone_while_running);
    WriteFileText((m_folder / L"release").wstring(), "");
    EXPECT_EQ(WaitFor(row_gone, row.gone_at_the_end ? 30s : 1500ms), row.gone_at_the_end);
    EXPECT_EQ(KeyExists(m_key, m_root, m_view), !row.gone_at_the_end);
    EXPECT_EQ(run.Close(), std::optional<DWORD>(0));
}

INSTANTIATE_TEST_SUITE_P(
    Uninstallers, StandInUninstaller,
    testing::Values(
        // Copies itself, starts the copy and ends; the copy removes the record when released.
        StandInCase{"RestartsItself", L"machine64", L"rmwd", false, true},
        StandInCase{"RemovesWhileRunning64Bit", L"machine64", L"dmw", true, true},
        StandInCase{"RemovesWhileRunning32Bit", L"machine32", L"dmw", true, true},
        StandInCase{"RemovesWhileRunningCurrentUser", L"user", L"dmw", true, true},
        StandInCase{"LeavesTheRecord", L"machine64", L"m", false, false}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// The cleaning job, on a fresh start: Suggest, then Remove, then the registry.

TEST(CleaningRun, SuggestThenRemoveDeletesExactlyTheStaleKeys) {
    ProgramRun run;
    ASSERT_TRUE(run.Start());
    const auto keys = run.Column(3);
    ASSERT_FALSE(keys.empty());

    ASSERT_TRUE(run.Click(3));
    const auto checked = run.CheckStates();
    std::map<std::wstring, bool> suggested;
    for (std::size_t i = 0; i < keys.size(); ++i) suggested[keys[i]] = checked[i];
    for (const Record& record : kRecords) {
        if (!record.display_name || !record.uninstall) continue;
        SCOPED_TRACE(record.key);
        EXPECT_EQ(suggested[record.key], record.stale);
    }

    // The selected row goes too, and no other takes its selection.
    const auto stale = std::find(checked.begin(), checked.end(), true);
    ASSERT_NE(stale, checked.end());
    run.SelectOnly(static_cast<int>(stale - checked.begin()));
    ASSERT_TRUE(run.Click(2)) << "Remove did not finish; a message box is probably open";
    EXPECT_EQ(::SendMessageW(run.List(), LVM_GETSELECTEDCOUNT, 0, 0), 0);
    std::vector<std::wstring> kept;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (!checked[i]) kept.push_back(keys[i]);
    EXPECT_EQ(run.Column(3), kept);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(keys[i]);
        EXPECT_EQ(KeyExists(keys[i]), !checked[i]);
    }
    // Wine's own tool agrees.
    const std::string listed = RegQueryUninstallKey();
    ASSERT_NE(listed.find("\\Uninstall\\"), std::string::npos) << listed;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(keys[i]);
        const std::string line = "\\Uninstall\\" + ToUtf8(T(keys[i])) + "\r\n";
        EXPECT_EQ(listed.find(line) != std::string::npos, !checked[i]);
    }
    EXPECT_TRUE(KeyExists(L"SsrWindowTest.NoName")) << "a record that was never listed is never removed";
    EXPECT_TRUE(KeyExists(L"SsrWindowTest.NoCommand"));
    EXPECT_EQ(run.Close(), std::optional<DWORD>(0));
}

// ---------------------------------------------------------------------------
// A high-contrast scheme (white text on black buttons and lists), set in the
// test run's prefix before the program starts: every caption still reads on
// its face, and the list takes the scheme's window colours.

class HighContrast : public testing::TestWithParam<std::string> {
protected:
    static constexpr wchar_t kColoursKey[] = L"Control Panel\\Colors";
    static constexpr const wchar_t* kScheme[][2] = {
        {L"ButtonFace", L"0 0 0"}, {L"ButtonText", L"255 255 255"}, {L"Window", L"0 0 0"}, {L"WindowText", L"255 255 255"}};

    static void SetUpTestSuite() {
        for (const auto& [name, value] : kScheme) {
            wchar_t old[64] = {};
            DWORD size = sizeof(old);
            s_saved.emplace_back(name, ::RegGetValueW(HKEY_CURRENT_USER, kColoursKey, name, RRF_RT_REG_SZ, nullptr, old,
                                                      &size) == ERROR_SUCCESS
                                           ? std::optional<std::wstring>(old)
                                           : std::nullopt);
            ::RegSetKeyValueW(HKEY_CURRENT_USER, kColoursKey, name, REG_SZ, value,
                              static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
        }
        s_run = new ProgramRun;
        s_started = s_run->Start();
    }
    static void TearDownTestSuite() {
        delete s_run;
        s_run = nullptr;
        for (const auto& [name, value] : s_saved) {
            if (value) ::RegSetKeyValueW(HKEY_CURRENT_USER, kColoursKey, name.c_str(), REG_SZ, value->c_str(),
                                         static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
            else ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kColoursKey, name.c_str());
        }
        s_saved.clear();
    }
    void SetUp() override { ASSERT_TRUE(s_started) << "the program's window did not show up"; }

    static ProgramRun* s_run;
    static bool s_started;
    static std::vector<std::pair<std::wstring, std::optional<std::wstring>>> s_saved;
};
ProgramRun* HighContrast::s_run = nullptr;
bool HighContrast::s_started = false;
std::vector<std::pair<std::wstring, std::optional<std::wstring>>> HighContrast::s_saved;

// What the screen shows of a window, as 0x00BBGGRR colours, row by row.
std::vector<std::uint32_t> ScreenPixels(HWND window, int& width, int& height) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    std::vector<std::uint32_t> pixels;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        ::GdiFlush();
        const auto* bgra = static_cast<const std::uint32_t*>(bits);
        for (int i = 0; i < width * height; ++i) {
            const std::uint32_t p = bgra[i];  // 0xAARRGGBB
            pixels.push_back(((p >> 16) & 0xFF) | (p & 0xFF00) | ((p & 0xFF) << 16));
        }
        ::SelectObject(memory, old);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

TEST_P(HighContrast, KeepsTheControlReadable) {
    HWND control = s_run->Control(GetParam());
    ASSERT_NE(control, nullptr);
    if (control == s_run->List()) {
        EXPECT_EQ(::SendMessageW(control, LVM_GETBKCOLOR, 0, 0), RGB(0, 0, 0));
        EXPECT_EQ(::SendMessageW(control, LVM_GETTEXTCOLOR, 0, 0), RGB(255, 255, 255));
        return;
    }
    ::RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    ASSERT_TRUE(s_run->Settle());
    int width = 0, height = 0;
    const std::vector<std::uint32_t> pixels = ScreenPixels(control, width, height);
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(width * height));
    // The face beside the caption, and the caption's strongest pixel against it.
    const std::uint32_t face = pixels[static_cast<std::size_t>(height / 2 * width + 8)];
    double best = 1.0;
    for (int y = 5; y < height - 5; ++y)
        for (int x = width / 4; x < width * 3 / 4; ++x)
            best = std::max(best, ContrastRatio(face, pixels[static_cast<std::size_t>(y * width + x)]));
    EXPECT_GE(best, kReadableContrast) << "face " << std::hex << face;
}

INSTANTIATE_TEST_SUITE_P(Controls, HighContrast,
                         testing::Values("PushButton1", "PushButton2", "PushButton3", "PushButton4", "PushButton5",
                                         "PushButton6", "ListView1"),
                         [](const auto& info) { return info.param; });

// ---------------------------------------------------------------------------
// Start-up reports come before the window: a pointer file that is no cursor,
// beside a copy of the program.

TEST(BrokenPointerFile, ReportComesBeforeTheWindowWhichStillOpens) {
    const std::wstring folder = std::wstring(kFolder) + L"\\broken pointer";
    const std::wstring program = folder + L"\\sweep-stale-records.exe";
    const std::wstring pointer = folder + L"\\HAND-M.CUR";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(ProgramPath().c_str(), program.c_str(), FALSE));
    WriteFileText(pointer, "this is not a cursor");

    ProgramRun run;
    ASSERT_TRUE(run.Launch(program));
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = run.FindTopLevel(L"#32770")) != nullptr || !run.Running(); }, 60s));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowText(box), L"Application Error");
    const std::wstring report = WindowText(::GetDlgItem(box, 0xFFFF));
    EXPECT_NE(report.find(L"Form1.Form_Load at line 106"), std::wstring::npos) << std::string(report.begin(), report.end());
    HWND form = run.FindForm();
    ASSERT_NE(form, nullptr) << "the window is built before Form_Load runs";
    EXPECT_FALSE(::IsWindowVisible(form)) << "the window shows only after Form_Load";

    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(run.WaitForForm());
    EXPECT_EQ(WindowText(run.Form()), W(design::kProductTitle)) << "the start-up went on after the report";
    EXPECT_EQ(run.RowCount(), static_cast<int>(ListableRecords().size()));
    EXPECT_EQ(run.Close(), std::optional<DWORD>(0));

    ::DeleteFileW(pointer.c_str());
    ::DeleteFileW(program.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

// ---------------------------------------------------------------------------
// A denser screen: the design is in twips, so everything grows with it.

TEST(DenseScreen, WindowAndControlsScaleWithTheDpi) {
    constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
    constexpr DWORD kDpi = 144;
    DWORD old_dpi = 0;
    DWORD size = sizeof(old_dpi);
    const bool had_dpi = ::RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr,
                                        &old_dpi, &size) == ERROR_SUCCESS;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &kDpi, sizeof(kDpi));
    ProgramRun run;
    const bool started = run.Start();
    if (had_dpi) ::RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &old_dpi, sizeof(old_dpi));
    else ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
    ASSERT_TRUE(started);

    const int dpi = static_cast<int>(kDpi);
    RECT client{};
    ASSERT_TRUE(::GetClientRect(run.Form(), &client));
    EXPECT_EQ(client.right, design::Pixels(design::kClientWidth, dpi));
    EXPECT_EQ(client.bottom, design::Pixels(design::kClientHeight, dpi));
    for (const ControlDesign& design : design::kControls) {
        HWND control = ControlOf(run, design);
        if (!control) continue;
        SCOPED_TRACE(std::string(design.name));
        const RECT rect = RectInParent(control);
        EXPECT_EQ(rect.top, design::Pixels(design.rect.top, dpi));
        EXPECT_EQ(rect.bottom - rect.top, design::Pixels(design.rect.height, dpi));
    }
    EXPECT_EQ(run.ColumnWidth(0), design::Pixels(7000, dpi));

    // Moved onto a 96 dpi screen, the window lays itself out again.
    RECT suggested{10, 10, 600, 600};
    RemoteBuffer remote(run.Process(), sizeof(RECT));
    remote.Write(&suggested, sizeof(suggested));
    ::SendMessageW(run.Form(), WM_DPICHANGED, MAKEWPARAM(96, 96), remote.lparam());
    ASSERT_TRUE(::GetClientRect(run.Form(), &client));
    EXPECT_EQ(client.right, design::Pixels(design::kClientWidth, 96));
    EXPECT_EQ(client.bottom, design::Pixels(design::kClientHeight, 96));
    const ControlDesign& list = *design::FindControl("ListView1");
    const RECT list_rect = RectInParent(run.List());
    EXPECT_EQ(list_rect.top, design::Pixels(list.rect.top, 96));
    EXPECT_EQ(list_rect.bottom - list_rect.top, design::Pixels(list.rect.height, 96));
    EXPECT_EQ(run.ColumnWidth(0), design::Pixels(7000, 96));
    EXPECT_EQ(run.Close(), std::optional<DWORD>(0));
}

// ---------------------------------------------------------------------------
// 30,000 records: the list stays whole and the window stays usable. The times
// are printed, not asserted.

class LargeList : public testing::Test {
protected:
    static constexpr int kRows = 30000;

    static std::wstring BulkKey(int i) {
        wchar_t name[64];
        std::swprintf(name, 64, L"SsrWindowTest.Bulk.%05d", i);
        return name;
    }
    // Odd records name a program file that exists, even ones one that is gone.
    static bool Stale(int i) { return i % 2 == 0; }

    static void SetUpTestSuite() {
        const auto started = std::chrono::steady_clock::now();
        win32::UniqueHkey root;
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          root.put(), nullptr);
        for (int i = 0; i < kRows; ++i) {
            win32::UniqueHkey key;
            if (::RegCreateKeyExW(root.get(), BulkKey(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                  nullptr) != ERROR_SUCCESS)
                continue;
            wchar_t name[64];
            std::swprintf(name, 64, L"Bulk Entry %05d", i);
            SetText(key.get(), L"DisplayName", name);
            SetText(key.get(), L"UninstallString",
                    Stale(i) ? L"\"C:\\ssr window test\\gone\\unins000.exe\" /S"
                             : L"\"C:\\ssr window test\\present\\unins000.exe\" /S");
        }
        std::printf("%d records made in %lld ms\n", kRows,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - started)
                                               .count()));
    }
    static void TearDownTestSuite() {
        win32::UniqueHkey root;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), 0, KEY_ALL_ACCESS, root.put()) != ERROR_SUCCESS)
            return;
        for (int i = 0; i < kRows; ++i) ::RegDeleteTreeW(root.get(), BulkKey(i).c_str());
    }
};

TEST_F(LargeList, ThirtyThousandRowsAreShownSuggestedAndRemoved) {
    const auto expected = ListableRecords();
    ASSERT_GE(expected.size(), static_cast<std::size_t>(kRows));
    ProgramRun run;
    ASSERT_TRUE(run.Start());
    std::printf("%zu rows: window shown %lld ms after the start\n", expected.size(),
                static_cast<long long>(run.StartTime().count()));
    ASSERT_EQ(run.RowCount(), static_cast<int>(expected.size()));

    // Scrolling to the end draws the last rows from the model.
    const int last = run.RowCount() - 1;
    ::SendMessageW(run.List(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(last), FALSE);
    ASSERT_TRUE(run.Settle());
    EXPECT_EQ(run.ItemText(last, 0), expected.back().display_name);

    const auto clicked = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.Click(3, 120s));
    std::printf("Suggest over %d rows: %lld ms\n", run.RowCount(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - clicked)
                                           .count()));
    // Every 97th row and the last: reading all 30,000 through messages would take longer than the program does.
    int bulk = 0;
    int wrong = 0;
    const auto check_row = [&](int row) {
        const std::wstring key = run.ItemText(row, 3);
        if (key.rfind(L"SsrWindowTest.Bulk.", 0) != 0) return;
        ++bulk;
        const int i = std::stoi(key.substr(std::wstring(L"SsrWindowTest.Bulk.").size()));
        if (run.Checked(row) != Stale(i)) ++wrong;
    };
    for (int row = 0; row < last; row += 97) check_row(row);
    check_row(last);
    EXPECT_GT(bulk, kRows / 100);
    EXPECT_EQ(wrong, 0);

    // Remove walks every row and deletes half the keys; the window keeps up.
    int stale = 0;
    for (int i = 0; i < kRows; ++i) stale += Stale(i) ? 1 : 0;
    for (const Record& record : kRecords)
        if (record.stale && KeyExists(record.key)) ++stale;
    const int before = run.RowCount();
    const auto remove_clicked = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.Click(2, 240s));
    std::printf("Remove of %d checked rows out of %d: %lld ms\n", stale, before,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - remove_clicked)
                                           .count()));
    EXPECT_EQ(run.RowCount(), before - stale);
    for (int i = 0; i < kRows; i += 1009) {
        SCOPED_TRACE(BulkKey(i));
        EXPECT_EQ(KeyExists(BulkKey(i)), !Stale(i));
    }
    EXPECT_FALSE(run.Checked(0)) << "every checked row went";
    EXPECT_EQ(run.Close(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace ssr::test
