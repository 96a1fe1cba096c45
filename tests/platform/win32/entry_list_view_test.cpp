// The list view binding, one test per binding, on a real comctl32 list view:
// a parent window hands its notes to the binder and the list view's own input
// goes through it first, as the main window does.

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/entry_list.h"
#include "platform/win32/entry_list_view.h"
#include "test_support.h"

namespace ssr::win32 {
namespace {

using testing::W;

constexpr wchar_t kParentClass[] = L"SsrEntryListViewTestParent";

class ListViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
        ::InitCommonControlsEx(&controls);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kParentClass;
        ::RegisterClassExW(&wc);
    }

    void SetUp() override {
        // A popup: Wine waits for a window manager whenever a framed window hides.
        m_parent = ::CreateWindowExW(0, kParentClass, L"list view test", WS_POPUP, 0, 0, 640, 480, nullptr,
                                     nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_parent, nullptr);
        ::SetWindowLongPtrW(m_parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_view = ::CreateWindowExW(0, WC_LISTVIEWW, L"",
                                   WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 0, 0, 600,
                                   400, m_parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_view, nullptr);
        ::SetWindowSubclass(m_view, ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
    }

    void TearDown() override {
        binder.reset();
        ::RemoveWindowSubclass(m_view, ListProc, 1);
        ::DestroyWindow(m_parent);
    }

    void Fill(int rows) {
        for (const char16_t* header : {u"Programs and Features Entries", u"Uninstall", u"FileExists", u"KeyName"})
            list.AddColumnHeader(header);
        list.SetColumnWidth(1, 7000.0F);
        for (int i = 1; i <= rows; ++i) {
            const int at = list.Add(u"Entry " + DecimalText(i));
            list.SetSubItem(at, 1, u"C:\\App" + DecimalText(i) + u"\\unins.exe /S");
            list.SetSubItem(at, 2, u"c:\\app" + DecimalText(i) + u"\\unins.exe");
            list.SetSubItem(at, 3, u"{key-" + DecimalText(i) + u"}");
        }
    }
    void Bind(int dpi = 96) { binder = std::make_unique<EntryListView>(list, m_view, dpi); }
    void Show() {
        ::ShowWindow(m_parent, SW_SHOWNOACTIVATE);
        binder->Flush();
    }

    [[nodiscard]] int Rows() const { return ListView_GetItemCount(m_view); }
    [[nodiscard]] std::wstring Cell(int row, int column) const {
        wchar_t text[256] = {};
        ListView_GetItemText(m_view, row, column, text, 256);
        return text;
    }
    [[nodiscard]] bool Checked(int row) const { return ListView_GetCheckState(m_view, static_cast<UINT>(row)) != 0; }
    [[nodiscard]] bool Selected(int row) const { return ListView_GetItemState(m_view, row, LVIS_SELECTED) != 0; }
    [[nodiscard]] std::wstring HeaderText(int column) const {
        wchar_t text[128] = {};
        LVCOLUMNW lv{};
        lv.mask = LVCF_TEXT;
        lv.pszText = text;
        lv.cchTextMax = 128;
        ListView_GetColumn(m_view, column, &lv);
        return text;
    }
    // A point on the row's check box, by the list view's own hit test.
    [[nodiscard]] LPARAM CheckBoxAt(int row) const {
        RECT bounds{};
        ListView_GetItemRect(m_view, row, &bounds, LVIR_BOUNDS);
        const int y = (bounds.top + bounds.bottom) / 2;
        for (int x = bounds.left; x < bounds.left + 60; ++x) {
            LVHITTESTINFO hit{};
            hit.pt = POINT{x, y};
            ListView_SubItemHitTest(m_view, &hit);
            if (hit.iItem == row && (hit.flags & LVHT_ONITEMSTATEICON)) return MAKELPARAM(x + 2, y);
        }
        ADD_FAILURE() << "no check box found on row " << row;
        return 0;
    }
    [[nodiscard]] LRESULT Find(const wchar_t* typed, UINT flags, int start = -1) const {
        LVFINDINFOW find{};
        find.flags = flags;
        find.psz = typed;
        return ::SendMessageW(m_view, LVM_FINDITEMW, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(&find));
    }

    EntryList list;
    std::unique_ptr<EntryListView> binder;
    HWND m_parent = nullptr;
    HWND m_view = nullptr;

private:
    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = reinterpret_cast<ListViewTest*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_NOTIFY && self && self->binder)
            return self->binder->OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
        return ::DefWindowProcW(window, message, wparam, lparam);
    }
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR /*id*/,
                                     DWORD_PTR ref) {
        auto* self = reinterpret_cast<ListViewTest*>(ref);
        if (self->binder)
            if (const auto taken = self->binder->OnInput(message, wparam, lparam)) return *taken;
        return ::DefSubclassProc(window, message, wparam, lparam);
    }
};

TEST_F(ListViewTest, ColumnsShowTheirHeadersAndTheirWidthsInPixels) {
    Fill(0);
    list.SetColumnWidth(2, 1440.0F);
    list.SetColumnWidth(4, 0.0F);
    Bind(144);
    ASSERT_EQ(Header_GetItemCount(ListView_GetHeader(m_view)), 4);
    EXPECT_EQ(HeaderText(0), L"Programs and Features Entries");
    EXPECT_EQ(HeaderText(3), L"KeyName");
    EXPECT_EQ(ListView_GetColumnWidth(m_view, 0), 700);  // 7000 twips at 144 dots an inch
    EXPECT_EQ(ListView_GetColumnWidth(m_view, 1), 144);
    EXPECT_EQ(ListView_GetColumnWidth(m_view, 3), 0);

    // A later width from the list reaches the header ...
    list.SetColumnWidth(4, 720.0F);
    EXPECT_EQ(ListView_GetColumnWidth(m_view, 3), 72);
    // ... and a new density keeps the widths in inches.
    binder->SetDpi(96);
    EXPECT_EQ(ListView_GetColumnWidth(m_view, 0), 467);
    EXPECT_EQ(ListView_GetColumnWidth(m_view, 3), 48);
}

TEST_F(ListViewTest, RowsAreDrawnFromTheList) {
    Fill(3);
    list.SetChecked(2, true);
    Bind();
    Show();
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(1, 0), L"Entry 2");
    EXPECT_EQ(Cell(1, 1), L"C:\\App2\\unins.exe /S");
    EXPECT_EQ(Cell(1, 2), L"c:\\app2\\unins.exe");
    EXPECT_EQ(Cell(1, 3), L"{key-2}");
    EXPECT_FALSE(Checked(0));
    EXPECT_TRUE(Checked(1));

    // A handler's change shows at once; a removal moves the rest up.
    list.SetChecked(3, true);
    EXPECT_TRUE(Checked(2));
    list.Remove(1);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, 0), L"Entry 2");
    EXPECT_TRUE(Checked(1));
}

TEST_F(ListViewTest, ClickOnACheckBoxChecksTheListRow) {
    Fill(3);
    Bind();
    Show();
    const LPARAM at = CheckBoxAt(1);
    ::SendMessageW(m_view, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(m_view, WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(list.Checked(2));
    EXPECT_FALSE(list.Checked(1));
    EXPECT_TRUE(Checked(1));
    ::SendMessageW(m_view, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(m_view, WM_LBUTTONUP, 0, at);
    EXPECT_FALSE(list.Checked(2));
}

TEST_F(ListViewTest, SpaceGivesEverySelectedRowTheFocusedRowsNewState) {
    Fill(4);
    list.SetChecked(4, true);
    Bind();
    Show();
    ListView_SetItemState(m_view, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(m_view, 3, LVIS_SELECTED, LVIS_SELECTED);
    ::SendMessageW(m_view, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageW(m_view, WM_CHAR, L' ', 0);
    ::SendMessageW(m_view, WM_KEYUP, VK_SPACE, 0);
    EXPECT_FALSE(list.Checked(1));
    EXPECT_TRUE(list.Checked(2));
    EXPECT_FALSE(list.Checked(3));
    EXPECT_TRUE(list.Checked(4));  // was checked already; takes the focused row's state
}

TEST_F(ListViewTest, SelectionGoesBothWays) {
    Fill(4);
    Bind();
    Show();
    // The user's selection reaches the list ...
    ListView_SetItemState(m_view, 2, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_TRUE(list.Selected(3));
    ListView_SetItemState(m_view, -1, 0, LVIS_SELECTED);
    EXPECT_FALSE(list.Selected(3));
    // ... and a handler's selection reaches the list view.
    list.SetSelected(4, true);
    EXPECT_TRUE(Selected(3));
    EXPECT_FALSE(Selected(2));
}

TEST_F(ListViewTest, TypingFindsTheNextNameStartingWithTheText) {
    Fill(12);
    Bind();
    Show();
    EXPECT_EQ(Find(L"ENTRY 1", LVFI_STRING | LVFI_PARTIAL | LVFI_WRAP), 0);
    EXPECT_EQ(Find(L"entry 1", LVFI_STRING | LVFI_PARTIAL | LVFI_WRAP, 1), 9);  // after row 1: "Entry 10"
    EXPECT_EQ(Find(L"entry 2", LVFI_STRING | LVFI_PARTIAL, 5), -1);             // no wrap past the end
    EXPECT_EQ(Find(L"entry 1", LVFI_STRING), 0);                               // whole name only
    EXPECT_EQ(Find(L"ntry", LVFI_STRING | LVFI_PARTIAL | LVFI_WRAP), -1);
}

TEST_F(ListViewTest, ChangesInABatchOrWhileHiddenReachTheViewOnceAtTheEnd) {
    Fill(0);
    Bind();
    for (int i = 1; i <= 5; ++i) list.Add(u"Hidden " + DecimalText(i));
    EXPECT_EQ(Rows(), 0) << "a hidden list view is left alone";
    Show();
    EXPECT_EQ(Rows(), 5);

    {
        const EntryListView::Batch batch(*binder);
        list.Remove(1);
        list.SetSelected(2, true);
        for (int i = 1; i <= 3; ++i) list.Add(u"Batched " + DecimalText(i));
        EXPECT_EQ(Rows(), 5) << "inside a batch the list view keeps what it showed";
    }
    ASSERT_EQ(Rows(), 7);
    EXPECT_EQ(Cell(6, 0), L"Batched 3");
    EXPECT_TRUE(Selected(1));
    EXPECT_TRUE(list.Selected(2)) << "catching up is not read back as the user's selection";
    EXPECT_FALSE(Selected(0));
}

}  // namespace
}  // namespace ssr::win32
