#pragma once
// ListView1 on Windows: a virtual (owner-data) list view over an
// ssr::EntryList, kept in step through the list's observer. The list owns the
// entries; the list view asks for a row's texts and check box only when it
// draws the row, and the user's check-box clicks and selection are written
// back into the list, so the handlers read what the user sees.
//
// Changes made by code are batched: inside a Batch, or while the list view is
// hidden, the list view is only marked out of date and catches up once at the
// end. Per-row messages cost far more than the rows themselves at 30,000 rows.
//
// The binder creates no window: the front end builds the list view (report
// style, LVS_OWNERDATA), then forwards the parent's WM_NOTIFY to OnNotify and
// the list view's own mouse and key input to OnInput.

#include <windows.h>

#include <commctrl.h>

#include <optional>

#include "platform/entry_list.h"

namespace ssr::win32 {

class EntryListView final : private EntryListObserver {
public:
    // `view` is not owned and must outlive the binder. Column widths are
    // twips in the list and pixels at `dpi` on the screen.
    EntryListView(EntryList& list, HWND view, int dpi);
    ~EntryListView() override;
    EntryListView(const EntryListView&) = delete;
    EntryListView& operator=(const EntryListView&) = delete;

    [[nodiscard]] EntryList& list() { return m_list; }
    [[nodiscard]] HWND hwnd() const { return m_view; }

    // A new screen density: the widths the user dragged keep their size in inches.
    void SetDpi(int dpi);

    // The parent's WM_NOTIFY; the answer is what the parent returns. Notes
    // from any other control answer 0.
    LRESULT OnNotify(const NMHDR& header);
    // The list view's own input, before the list view sees it: clicks on a
    // check box and the space key. An answer means the message was taken.
    [[nodiscard]] std::optional<LRESULT> OnInput(UINT message, WPARAM wparam, LPARAM lparam);

    // Brings the list view up to date now, batch or not (when it was just shown, say).
    void Flush();

    // While one lives, changes to the list only mark the list view; it
    // catches up when the last one goes.
    class Batch {
    public:
        explicit Batch(EntryListView& view);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        EntryListView& m_view;
    };

private:
    void ColumnsChanged() override;
    void RowsCleared() override;
    void RowInserted(int position) override;
    void RowRemoved(int position) override;
    void RowChanged(int position) override;

    void OnGetDispInfo(NMLVDISPINFOW& info) const;
    void OnItemChanged(const NMLISTVIEW& change);
    [[nodiscard]] LRESULT FindRow(const NMLVFINDITEMW& find) const;
    [[nodiscard]] bool OnClick(LPARAM lparam);
    void OnSpace();
    void WriteBackSelection(int first, int last, bool selected);
    [[nodiscard]] bool Deferring() const;
    void Changed();

    EntryList& m_list;
    HWND m_view;
    int m_dpi;
    // Set while the binder changes the list view itself, so the list view's
    // own notifications are not written back into the list.
    bool m_updating_view = false;
    // Set while the user's clicks are written into the list, so the list's
    // notifications do not echo back into the list view.
    bool m_writing_back = false;
    int m_batch = 0;
    bool m_dirty = true;
};

}  // namespace ssr::win32
