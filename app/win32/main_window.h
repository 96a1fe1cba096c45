#pragma once
// The real Form1 on Windows: a top-level window with the list and the six
// buttons, built from the design table. It mirrors Form1's properties
// (FormView), binds the entry list to its list view (EntryListView) and
// routes clicks and mouse moves to Form1's handlers. It decides nothing about
// what a click does.

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include <windows.h>

#include <commctrl.h>

#include "app/win32/window_handles.h"
#include "application/form1.h"
#include "platform/win32/entry_list_view.h"

namespace ssr::win32 {

// Control identifiers: a control's row in the design table, counted from
// above IDOK and IDCANCEL, which the dialog keyboard interface sends for
// Enter and Escape.
inline constexpr int kControlIdBase = 1000;
[[nodiscard]] constexpr int ControlId(std::size_t design_row) { return kControlIdBase + static_cast<int>(design_row); }
inline constexpr wchar_t kFormClassName[] = L"SweepStaleRecordsForm1";

class MainWindow final : public FormView {
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

private:
    struct Control {
        const ControlDesign* design = nullptr;
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
    // The hint's text when it is about to show: over a row, also the row's place.
    [[nodiscard]] bool OnHintText(const NMHDR& header);
    void FollowHintRow(LPARAM point);
    void ApplyColors();

    void OnDrawButton(const DRAWITEMSTRUCT& draw);
    void OnDpiChanged(int dpi, const RECT& suggested);
    void RefreshPointer();
    [[nodiscard]] HCURSOR PointerCursor() const;

    [[nodiscard]] HWND List() const;
    [[nodiscard]] Control* FindControl(std::string_view name);
    [[nodiscard]] const Control* FindControl(HWND window) const;
    [[nodiscard]] const Control* FindControl(int id) const;
    // Runs the handler of the control's design row, if it has one.
    void Run(const Control* control, FormHandler ControlDesign::*event);
    [[nodiscard]] int Px(int twips) const;

    HINSTANCE m_instance;
    Form1& m_form;
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
    std::wstring m_hint_text;  // what the hint shows, kept while it shows
    int m_hint_row = -1;       // the row under the pointer when the hint was asked for
    HWND m_last_focus = nullptr;
    // Goes before the windows do, so no list change reaches a destroyed list view.
    std::unique_ptr<EntryListView> m_list_view;

    int m_pointer = kPointerDefault;
};

}  // namespace ssr::win32
