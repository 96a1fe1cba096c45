#pragma once
// The real Form1 on Windows: a top-level window with the list and the six
// buttons, built from the design table. It mirrors Form1's properties
// (FormView), shows the entry list through a virtual list view
// (EntryListObserver) and routes clicks and mouse moves to Form1's handlers.
// It decides nothing about what a click does.

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include <windows.h>

#include <commctrl.h>

#include "app/win32/window_handles.h"
#include "application/form1.h"

namespace ssr::win32 {

// Control identifiers. Buttons start above IDOK and IDCANCEL, which the
// dialog keyboard interface sends for Enter and Escape.
inline constexpr int kButtonIdBase = 1000;  // PushButtonN has kButtonIdBase + N
inline constexpr int kListId = 1100;
inline constexpr wchar_t kFormClassName[] = L"SweepStaleRecordsForm1";

class MainWindow final : public FormView, public EntryListObserver {
public:
    MainWindow(HINSTANCE instance, Form1& form);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Builds the window and its controls from the design, hidden and centred.
    [[nodiscard]] bool Create();
    // Shows the window with the focus on the list.
    void Show(int show_command);
    // Runs until the window is gone; the result is the process's exit code.
    [[nodiscard]] int RunMessageLoop();
    [[nodiscard]] HWND hwnd() const { return m_window.get(); }

    // FormView
    void ShowCaption(TextView caption) override;
    void ShowIcon(const std::vector<IconImage>& images) override;
    void ShowMouseIcon(const std::shared_ptr<PointerPicture>& picture) override;
    void ShowMousePointer(int setting) override;
    void ShowBackColor(std::string_view control, std::uint32_t colour) override;
    [[nodiscard]] std::int32_t NativeHandle() const override;

    // EntryListObserver
    void ColumnsChanged() override;
    void RowsCleared() override;
    void RowInserted(int position) override;
    void RowRemoved(int position) override;
    void RowChanged(int position) override;

private:
    struct Control {
        const ControlDesign* design = nullptr;
        int button_number = 0;  // 1..6 for PushButton1..6, else 0
        UniqueHwnd window;
        std::optional<std::uint32_t> back_color;  // set by the appearance step only; may name a system colour
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                        DWORD_PTR self);
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle_control_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id);

    [[nodiscard]] bool RegisterFormClass();
    void CreateControls();
    void CreateFonts();
    void PlaceWindow(std::optional<POINT> top_left);
    void PlaceControls();
    void AddListHint();
    void ApplyColors();

    LRESULT OnNotify(const NMHDR& header);
    void OnGetDispInfo(NMLVDISPINFOW& info);
    void OnItemChanged(const NMLISTVIEW& change);
    [[nodiscard]] LRESULT FindRow(const NMLVFINDITEMW& find) const;
    void OnDrawButton(const DRAWITEMSTRUCT& draw);
    void OnDpiChanged(int dpi, const RECT& suggested);
    [[nodiscard]] bool OnListClick(LPARAM lparam);
    void OnListSpace();
    void ToggleChecked(int position);
    void WriteBackSelection(int first, int last, bool selected);
    // While one lives, model changes only mark the list view for one update at the end.
    class ViewBatch {
    public:
        explicit ViewBatch(MainWindow& window);
        ~ViewBatch();
        ViewBatch(const ViewBatch&) = delete;
        ViewBatch& operator=(const ViewBatch&) = delete;

    private:
        MainWindow& m_window;
    };

    [[nodiscard]] bool Deferring() const;
    void ModelChanged();
    void FlushView();
    void RefreshPointer();
    [[nodiscard]] HCURSOR PointerCursor() const;

    [[nodiscard]] HWND List() const;
    [[nodiscard]] Control* FindControl(std::string_view name);
    [[nodiscard]] int Px(int twips) const;

    HINSTANCE m_instance;
    Form1& m_form;
    EntryList& m_list;
    int m_dpi = USER_DEFAULT_SCREEN_DPI;

    // Handles the window uses: they outlive it, so they come first.
    UniqueHicon m_class_icon;
    UniqueHicon m_class_icon_small;
    std::vector<UniqueHicon> m_icons;
    UniqueHfont m_button_font;
    UniqueHfont m_list_font;
    UniqueHbrush m_back_brush;
    std::shared_ptr<PointerPicture> m_mouse_icon;
    HCURSOR m_mouse_icon_cursor = nullptr;  // owned by m_mouse_icon

    UniqueHwnd m_window;
    std::vector<Control> m_controls;  // in tab order
    UniqueHwnd m_tooltip;
    HWND m_last_focus = nullptr;

    int m_pointer = kPointerDefault;
    // Set while the window changes the list view itself, so the list view's
    // own notifications are not written back into the model.
    bool m_updating_view = false;
    // Set while the user's clicks are written into the model, so the model's
    // notifications do not echo back into the list view.
    bool m_writing_back = false;
    // Handlers running that change the model; the list view catches up once at the end.
    int m_batch = 0;
    bool m_view_dirty = false;
};

}  // namespace ssr::win32
