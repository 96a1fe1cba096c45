// Form1's window built inside the test process, where its controls' fonts can
// be asked for: under Wine, WM_GETFONT and the font's own description answer
// only the process that made the font.

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/fonts.h"
#include "app/win32/main_window.h"
#include "application/appearance.h"
#include "application/layout.h"
#include "doubles/memory_registry.h"
#include "doubles/scripted_desktop.h"
#include "platform/registry.h"

namespace ssr::win32 {
namespace {

std::wstring W(std::string_view text) { return std::wstring(text.begin(), text.end()); }

// What a window's font is, as asked for and as the system made it.
struct FontFacts {
    LOGFONTW asked{};
    std::wstring face;  // the face the system draws with
    LONG weight = 0;    // the weight the system draws with
};

FontFacts FactsOf(HWND control) {
    FontFacts facts;
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    if (!font || ::GetObjectW(font, sizeof(facts.asked), &facts.asked) == 0) return facts;
    const UniqueHdc dc(::CreateCompatibleDC(nullptr));
    const HGDIOBJ old = ::SelectObject(dc.get(), font);
    wchar_t face[LF_FACESIZE] = {};
    ::GetTextFaceW(dc.get(), LF_FACESIZE, face);
    facts.face = face;
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc.get(), &metrics);
    facts.weight = metrics.tmWeight;
    ::SelectObject(dc.get(), old);
    return facts;
}

// The face the system draws with when asked for `face`: itself, or what
// stands in for it where it is not installed.
std::wstring FaceGivenFor(const std::wstring& face) {
    LOGFONTW asked{};
    asked.lfHeight = -12;
    asked.lfCharSet = DEFAULT_CHARSET;
    face.copy(asked.lfFaceName, LF_FACESIZE - 1);
    const UniqueHfont font(::CreateFontIndirectW(&asked));
    const UniqueHdc dc(::CreateCompatibleDC(nullptr));
    const HGDIOBJ old = ::SelectObject(dc.get(), font.get());
    wchar_t given[LF_FACESIZE] = {};
    ::GetTextFaceW(dc.get(), LF_FACESIZE, given);
    ::SelectObject(dc.get(), old);
    return given;
}

class MainWindowInProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
    }

    void SetUp() override {
        for (const char16_t* name : {u"Acme Photo Studio 3.2", u"Blue Lagoon Text Editor"}) {
            const Text key = Text(kUninstallKeyPath) + u"\\" + name;
            registry.SetText(key, u"DisplayName", name);
            registry.SetText(key, u"UninstallString", u"C:\\App\\unins000.exe");
        }
        form = std::make_unique<Form1>(registry, desktop, skin);
        window = std::make_unique<MainWindow>(::GetModuleHandleW(nullptr), *form);
        ASSERT_TRUE(window->Create());
        form->Form_Load();
        // Hidden, the list view is told its row count only when it shows; told
        // here, its rows can be drawn without showing the window, whose end
        // would then wait seconds for a window manager that Xvfb has not.
        ListView_SetItemCountEx(Control("ListView1"), form->ListView1().Count(), 0);
        dpi = static_cast<int>(::GetDpiForWindow(window->hwnd()));
    }

    void TearDown() override {
        window.reset();
        form.reset();
        // The window's end asks the thread to quit; later tests still need its messages.
        MSG message{};
        while (::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

    [[nodiscard]] HWND Control(std::string_view name) const {
        for (std::size_t row = 0; row < form->Controls().size(); ++row)
            if (form->Controls()[row].name == name) return ::GetDlgItem(window->hwnd(), ControlId(row));
        return nullptr;
    }

    MemoryRegistry registry;
    ScriptedDesktop desktop;
    NullSkinEngine skin;
    std::unique_ptr<Form1> form;
    std::unique_ptr<MainWindow> window;
    int dpi = USER_DEFAULT_SCREEN_DPI;
};

struct FontRow {
    const char* name;
    const char* control;
    FontDesign design;
};

class ControlFont : public MainWindowInProcess, public ::testing::WithParamInterface<FontRow> {};

TEST_P(ControlFont, IsTheDesignsFaceSizeAndWeight) {
    const FontRow& row = GetParam();
    HWND control = Control(row.control);
    ASSERT_NE(control, nullptr);
    const FontFacts facts = FactsOf(control);
    EXPECT_EQ(std::wstring(facts.asked.lfFaceName), W(row.design.face));
    EXPECT_EQ(facts.asked.lfHeight, -std::lround(row.design.points * dpi / 72.0));
    EXPECT_EQ(facts.asked.lfWeight, FW_BOLD);
    EXPECT_EQ(facts.face, FaceGivenFor(W(row.design.face)));
    EXPECT_GE(facts.weight, FW_BOLD);
}

INSTANTIATE_TEST_SUITE_P(Design, ControlFont,
                         ::testing::Values(FontRow{"List", "ListView1", design::kListFont},
                                           FontRow{"Button", "PushButton3", design::kButtonFont}),
                         [](const auto& info) { return std::string(info.param.name); });

// What the user sees: a row's name, as the list draws it, carries clearly
// more ink than the same name in the regular weight would.
TEST_F(MainWindowInProcess, ListRowsDrawVisiblyBold) {
    HWND list = Control("ListView1");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(ListView_GetItemCount(list), 2);
    // The second row: the first may carry the focus rectangle.
    constexpr int kRow = 1;
    wchar_t name[128] = {};
    ListView_GetItemText(list, kRow, 0, name, 128);
    RECT label{};
    ASSERT_TRUE(ListView_GetItemRect(list, kRow, &label, LVIR_LABEL));

    RECT client{};
    ::GetClientRect(list, &client);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    const UniqueHdc dc(::CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    const UniqueHbitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap && bits);
    const HGDIOBJ old = ::SelectObject(dc.get(), bitmap.get());
    ::SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT | PRF_ERASEBKGND);
    ::GdiFlush();
    const COLORREF back = ListView_GetTextBkColor(list);
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    long long drawn = 0;
    for (int y = std::max(0L, label.top); y < std::min(client.bottom, label.bottom); ++y)
        for (int x = std::max(0L, label.left); x < std::min(client.right, label.right); ++x) {
            const std::uint8_t* p = pixels + (static_cast<std::size_t>(y) * client.right + x) * 4;
            drawn += std::abs(p[0] - GetBValue(back)) + std::abs(p[1] - GetGValue(back)) + std::abs(p[2] - GetRValue(back));
        }
    ::SelectObject(dc.get(), old);

    LOGFONTW regular{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)), sizeof(regular), &regular);
    regular.lfWeight = FW_NORMAL;
    regular.lfQuality = CLEARTYPE_QUALITY;
    const long long regular_ink = InkOf(regular, name);
    ASSERT_GT(regular_ink, 0);
    EXPECT_GE(static_cast<double>(drawn), 1.3 * static_cast<double>(regular_ink))
        << "the row \"" << std::string(name, name + wcslen(name)) << "\" drew " << drawn << ", its regular weight "
        << regular_ink;
}

}  // namespace
}  // namespace ssr::win32
