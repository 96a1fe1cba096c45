// The input and message boxes, driven the way a user would: a helper thread
// finds the box, types and presses a button while the test waits in the
// modal call. Needs a display (the test runs under Xvfb).

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <thread>

#include "platform/win32/win32_desktop.h"
#include "test_support.h"

namespace ssr::win32 {
namespace {

using testing::W;
using testing::WaitFor;

Text WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Text(text.begin(), text.end());
}

// The main window the boxes are modal to.
class OwnerWindow {
public:
    OwnerWindow()
        : m_window(::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                     nullptr, nullptr, nullptr, nullptr)) {}
    ~OwnerWindow() { ::DestroyWindow(m_window); }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    [[nodiscard]] HWND get() const { return m_window; }

private:
    HWND m_window;
};

// What the helper thread saw while the box was open.
struct Seen {
    bool found = false;
    Text title;
    Text prompt;
    Text ok;
    Text cancel;
    bool owned_by_main_window = false;
    bool main_window_disabled = false;
};

// Finds a visible top-level box of `window_class` made by this process; other
// programs in the same prefix may have windows of that class too.
HWND FindBox(const wchar_t* window_class) {
    struct Search {
        const wchar_t* window_class;
        HWND found;
    } search{window_class, nullptr};
    WaitFor([&] {
        ::EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
                auto* s = reinterpret_cast<Search*>(context);
                wchar_t name[64] = {};
                DWORD process = 0;
                ::GetWindowThreadProcessId(window, &process);
                if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window) ||
                    !::GetClassNameW(window, name, 64) || std::wstring_view(name) != s->window_class)
                    return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    return search.found;
}

void Press(HWND box, int id) { ::SendMessageW(::GetDlgItem(box, id), BM_CLICK, 0, 0); }

// Never leaves a box open, whatever the test found.
void CloseIfStillOpen(HWND box) {
    if (WaitFor([&] { return !::IsWindow(box); }, std::chrono::seconds(5))) return;
    ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
}

// Under Xvfb there is no window manager, and Wine waits two seconds for one
// whenever a managed window goes away. This program's windows need none; the
// setting is Wine's own, for this program only, in the throwaway prefix.
class UnmanagedWindows : public ::testing::Environment {
public:
    void SetUp() override {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\ssr_win32_tests.exe\\X11 Driver",
                          L"Managed", REG_SZ, L"N", 4);
    }
};
[[maybe_unused]] ::testing::Environment* const kUnmanagedWindows =
    ::testing::AddGlobalTestEnvironment(new UnmanagedWindows);

// --- Input box -------------------------------------------------------------------

enum class Finish { Ok, Enter, Cancel, CloseBox, Escape };

struct InputCase {
    const char* label;
    std::optional<Text> caption;
    Text default_text;
    Text typed;
    Finish finish;
    Text expected;
};

class InputBoxTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputBoxTest, GivesWhatWasTypedOrNothingOnCancel) {
    const InputCase& row = GetParam();
    OwnerWindow owner;
    ASSERT_NE(owner.get(), nullptr) << "no display";
    Win32Desktop desktop{u"boxes test"};
    desktop.SetOwner(owner.get());
    desktop.SetApplicationTitle(u"Sweep Stale Records Out Of The Installed");

    Seen seen;
    std::thread user([&] {
        const HWND box = FindBox(kInputBoxClass);
        if (!box) return;
        seen.found = true;
        seen.title = WindowText(box);
        seen.prompt = WindowText(::GetDlgItem(box, kInputBoxPromptId));
        seen.ok = WindowText(::GetDlgItem(box, kInputBoxOkId));
        seen.cancel = WindowText(::GetDlgItem(box, kInputBoxCancelId));
        seen.owned_by_main_window = ::GetWindow(box, GW_OWNER) == owner.get();
        seen.main_window_disabled = !::IsWindowEnabled(owner.get());
        const HWND edit = ::GetDlgItem(box, kInputBoxEditId);
        for (const char16_t unit : row.typed) ::SendMessageW(edit, WM_CHAR, unit, 0);
        switch (row.finish) {
        case Finish::Ok: Press(box, kInputBoxOkId); break;
        case Finish::Cancel: Press(box, kInputBoxCancelId); break;
        case Finish::CloseBox: ::PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); break;
        case Finish::Enter:
        case Finish::Escape: {
            const WPARAM key = row.finish == Finish::Enter ? VK_RETURN : VK_ESCAPE;
            ::PostMessageW(edit, WM_KEYDOWN, key, 0);
            ::PostMessageW(edit, WM_KEYUP, key, 0);
            break;
        }
        }
        CloseIfStillOpen(box);
    });
    const std::optional<TextView> caption =
        row.caption ? std::optional<TextView>(*row.caption) : std::optional<TextView>();
    const Text answer = desktop.InputBox(u"Enter text:", caption, row.default_text);
    user.join();

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(answer, row.expected);
    EXPECT_EQ(seen.title, row.caption.value_or(u"Sweep Stale Records Out Of The Installed"));
    EXPECT_EQ(seen.prompt, u"Enter text:");
    EXPECT_EQ(seen.ok, u"OK");
    EXPECT_EQ(seen.cancel, u"Cancel");
    EXPECT_TRUE(seen.owned_by_main_window);
    EXPECT_TRUE(seen.main_window_disabled);
    EXPECT_TRUE(::IsWindowEnabled(owner.get()));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, InputBoxTest,
    ::testing::Values(
        InputCase{"ok_gives_the_typed_text", std::nullopt, u"", u"Программа 旧 \U0001F600 x", Finish::Ok,
                  u"Программа 旧 \U0001F600 x"},
        InputCase{"enter_is_ok", std::nullopt, u"", u"Acme ", Finish::Enter, u"Acme "},
        InputCase{"ok_without_typing_gives_the_default", std::nullopt, u"preset", u"", Finish::Ok, u"preset"},
        InputCase{"typing_replaces_the_default", std::nullopt, u"preset", u"new", Finish::Ok, u"new"},
        InputCase{"cancel_gives_nothing", std::nullopt, u"", u"typed", Finish::Cancel, u""},
        InputCase{"close_box_gives_nothing", std::nullopt, u"", u"typed", Finish::CloseBox, u""},
        InputCase{"escape_gives_nothing", std::nullopt, u"", u"typed", Finish::Escape, u""},
        InputCase{"own_caption", Text(u"Заголовок"), u"", u"x", Finish::Ok, u"x"}),
    [](const auto& info) { return std::string(info.param.label); });

// --- Message box -------------------------------------------------------------------

struct MessageCase {
    const char* label;
    int style;
    std::optional<Text> caption;
    int pressed;
};

class MessageBoxTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageBoxTest, ShowsTheStyleAndGivesThePressedButton) {
    const MessageCase& row = GetParam();
    OwnerWindow owner;
    ASSERT_NE(owner.get(), nullptr) << "no display";
    Win32Desktop desktop{u"boxes test"};
    desktop.SetOwner(owner.get());
    desktop.SetApplicationTitle(u"Sweep Stale Records Out Of The Installed");

    Seen seen;
    bool button_there = false;
    std::thread user([&] {
        const HWND box = FindBox(L"#32770");
        if (!box) return;
        seen.found = true;
        seen.title = WindowText(box);
        seen.owned_by_main_window = ::GetWindow(box, GW_OWNER) == owner.get();
        button_there = ::GetDlgItem(box, row.pressed) != nullptr;
        Press(box, row.pressed);
        CloseIfStillOpen(box);
    });
    const std::optional<TextView> caption =
        row.caption ? std::optional<TextView>(*row.caption) : std::optional<TextView>();
    const int answer = desktop.MsgBox(u"first line\r\rsecond line", row.style, caption);
    user.join();

    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(button_there);
    EXPECT_EQ(answer, row.pressed);
    EXPECT_EQ(seen.title, row.caption.value_or(u"Sweep Stale Records Out Of The Installed"));
    EXPECT_TRUE(seen.owned_by_main_window);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxTest,
    ::testing::Values(MessageCase{"report_with_its_own_caption", 48, Text(u"Application Error"), IDOK},
                      MessageCase{"help_under_the_application_title", 0, std::nullopt, IDOK},
                      MessageCase{"yes_no_buttons_pass_through", MB_YESNO | MB_ICONQUESTION, std::nullopt, IDNO}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace ssr::win32
