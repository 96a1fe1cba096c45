// ListView1 on Windows: a virtual list view over the entry list.
#include "platform/win32/entry_list_view.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/win32/wide.h"

namespace ssr::win32 {

namespace {

constexpr int kTwipsPerInch = 1440;

int Pixels(float twips, int dpi) {
    const long long whole = std::lround(twips);
    return static_cast<int>((whole * dpi + kTwipsPerInch / 2) / kTwipsPerInch);
}

// Copies `text` into a list view's buffer, cut to fit.
void CopyToBuffer(const Text& text, wchar_t* buffer, int capacity) {
    if (!buffer || capacity <= 0) return;
    const std::size_t count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity - 1));
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = L'\0';
}

}  // namespace

EntryListView::EntryListView(EntryList& list, HWND view, int dpi)
    : m_list(list), m_view(view), m_dpi(dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI) {
    ListView_SetExtendedListViewStyleEx(m_view, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
    // The check boxes come from the list through LVN_GETDISPINFO.
    ListView_SetCallbackMask(m_view, LVIS_STATEIMAGEMASK);
    m_list.SetObserver(this);
    ColumnsChanged();
    Changed();
}

EntryListView::~EntryListView() { m_list.SetObserver(nullptr); }

void EntryListView::SetDpi(int dpi) {
    const int old_dpi = m_dpi;
    m_dpi = dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
    const int columns = Header_GetItemCount(ListView_GetHeader(m_view));
    for (int column = 0; column < columns; ++column)
        ListView_SetColumnWidth(m_view, column, ::MulDiv(ListView_GetColumnWidth(m_view, column), m_dpi, old_dpi));
}

// ---------------------------------------------------------------------------
// From the list view to the list.

LRESULT EntryListView::OnNotify(const NMHDR& header) {
    if (header.hwndFrom != m_view) return 0;
    switch (header.code) {
        case LVN_GETDISPINFOW:
            OnGetDispInfo(*reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header)));
            return 0;
        case LVN_ITEMCHANGED:
            OnItemChanged(*reinterpret_cast<const NMLISTVIEW*>(&header));
            return 0;
        case LVN_ODSTATECHANGED: {
            const auto& change = *reinterpret_cast<const NMLVODSTATECHANGE*>(&header);
            if (!m_updating_view && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
                WriteBackSelection(change.iFrom + 1, change.iTo + 1, (change.uNewState & LVIS_SELECTED) != 0);
            return 0;
        }
        case LVN_ODFINDITEMW:
            return FindRow(*reinterpret_cast<const NMLVFINDITEMW*>(&header));
        default:
            return 0;
    }
}

void EntryListView::OnGetDispInfo(NMLVDISPINFOW& info) const {
    LVITEMW& item = info.item;
    const int position = item.iItem + 1;
    if (position < 1 || position > m_list.Count()) return;
    const ListItem row = m_list.Row(position);
    if (item.mask & LVIF_TEXT) {
        const int column = item.iSubItem;
        const Text text = column >= 1 && column <= kSubItemCount ? row.SubItem(column) : row.ItemText();
        CopyToBuffer(text, item.pszText, item.cchTextMax);
    }
    if (item.mask & LVIF_STATE) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(row.checked ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}

// Typing in the list jumps to the next name that starts with the typed text.
LRESULT EntryListView::FindRow(const NMLVFINDITEMW& find) const {
    if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
    const Text wanted = LowerCase(FromWide(find.lvfi.psz));
    const int count = m_list.Count();
    if (wanted.empty() || count == 0) return -1;
    const bool whole = !(find.lvfi.flags & LVFI_PARTIAL);
    const int start = find.iStart >= 0 && find.iStart < count ? find.iStart : 0;
    for (int step = 0; step < count; ++step) {
        const int row = (start + step) % count;
        if (step > 0 && row == 0 && !(find.lvfi.flags & LVFI_WRAP)) break;
        const Text name = LowerCase(m_list.Row(row + 1).ItemText());
        if (whole ? name == wanted : name.starts_with(wanted)) return row;
    }
    return -1;
}

void EntryListView::OnItemChanged(const NMLISTVIEW& change) {
    if (m_updating_view || !(change.uChanged & LVIF_STATE)) return;
    if (!((change.uOldState ^ change.uNewState) & LVIS_SELECTED)) return;
    const bool selected = (change.uNewState & LVIS_SELECTED) != 0;
    if (change.iItem < 0) WriteBackSelection(1, m_list.Count(), selected);  // every row at once
    else WriteBackSelection(change.iItem + 1, change.iItem + 1, selected);
}

void EntryListView::WriteBackSelection(int first, int last, bool selected) {
    m_writing_back = true;
    last = std::min(last, m_list.Count());
    for (int position = std::max(first, 1); position <= last; ++position) m_list.SetSelected(position, selected);
    m_writing_back = false;
}

std::optional<LRESULT> EntryListView::OnInput(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            // Check boxes belong to the list; the list view would only flip its own copy.
            const Batch batch(*this);
            if (OnClick(lparam)) return 0;
            return std::nullopt;
        }
        case WM_KEYDOWN:
            if (wparam != VK_SPACE) return std::nullopt;
            {
                const Batch batch(*this);
                OnSpace();
            }
            return 0;
        case WM_CHAR:
            if (wparam == L' ') return 0;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

bool EntryListView::OnClick(LPARAM lparam) {
    LVHITTESTINFO hit{};
    hit.pt = POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    if (ListView_SubItemHitTest(m_view, &hit) < 0 || !(hit.flags & LVHT_ONITEMSTATEICON) || hit.iSubItem != 0)
        return false;
    ::SetFocus(m_view);
    const int position = hit.iItem + 1;
    if (position >= 1 && position <= m_list.Count()) m_list.SetChecked(position, !m_list.Row(position).checked);
    return true;
}

void EntryListView::OnSpace() {
    const int focused = ListView_GetNextItem(m_view, -1, LVNI_FOCUSED);
    if (focused < 0 || focused >= m_list.Count()) return;
    // Like the stock list view: every selected row takes the focused row's new state.
    const bool checked = !m_list.Row(focused + 1).checked;
    m_list.SetChecked(focused + 1, checked);
    for (int i = ListView_GetNextItem(m_view, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(m_view, i, LVNI_SELECTED))
        if (i < m_list.Count()) m_list.SetChecked(i + 1, checked);
}

// ---------------------------------------------------------------------------
// From the list to the list view. It follows at once when the user changes
// one row, and once at the end when code changes many.

bool EntryListView::Deferring() const { return m_batch > 0 || !::IsWindowVisible(m_view); }

EntryListView::Batch::Batch(EntryListView& view) : m_view(view) { ++m_view.m_batch; }

EntryListView::Batch::~Batch() {
    if (--m_view.m_batch == 0 && ::IsWindowVisible(m_view.m_view)) m_view.Flush();
}

void EntryListView::Flush() {
    if (!m_dirty) return;
    m_dirty = false;
    m_updating_view = true;
    if (ListView_GetItemCount(m_view) != m_list.Count())
        ListView_SetItemCountEx(m_view, m_list.Count(), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    // Rows may have moved under the list view's own selection: the list's
    // flags, which the user's clicks were written into, are the truth.
    ListView_SetItemState(m_view, -1, 0, LVIS_SELECTED);
    for (int position = 1; position <= m_list.Count(); ++position)
        if (m_list.Row(position).selected) ListView_SetItemState(m_view, position - 1, LVIS_SELECTED, LVIS_SELECTED);
    m_updating_view = false;
    ::InvalidateRect(m_view, nullptr, TRUE);
}

void EntryListView::Changed() {
    m_dirty = true;
    if (!Deferring()) Flush();
}

void EntryListView::ColumnsChanged() {
    const int shown = Header_GetItemCount(ListView_GetHeader(m_view));
    for (int column = 1; column <= m_list.ColumnCount(); ++column) {
        const ColumnHeader& header = m_list.Column(column);
        std::wstring text = Wide(header.text);
        LVCOLUMNW lv{};
        lv.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        lv.pszText = text.data();
        lv.cx = Pixels(header.width, m_dpi);
        lv.iSubItem = column - 1;
        if (column <= shown) ListView_SetColumn(m_view, column - 1, &lv);
        else ListView_InsertColumn(m_view, column - 1, &lv);
    }
    for (int column = Header_GetItemCount(ListView_GetHeader(m_view)); column > m_list.ColumnCount(); --column)
        ListView_DeleteColumn(m_view, column - 1);
}

void EntryListView::RowsCleared() { Changed(); }

void EntryListView::RowInserted(int /*position*/) { Changed(); }

void EntryListView::RowRemoved(int /*position*/) { Changed(); }

void EntryListView::RowChanged(int position) {
    if (m_writing_back) return;  // the list view already shows it
    if (Deferring()) {
        m_dirty = true;
        return;
    }
    if (position < 1 || position > m_list.Count()) return;
    const bool selected = m_list.Row(position).selected;
    if ((ListView_GetItemState(m_view, position - 1, LVIS_SELECTED) != 0) != selected) {
        m_updating_view = true;
        ListView_SetItemState(m_view, position - 1, selected ? LVIS_SELECTED : 0, LVIS_SELECTED);
        m_updating_view = false;
    }
    ListView_RedrawItems(m_view, position - 1, position - 1);
}

}  // namespace ssr::win32
