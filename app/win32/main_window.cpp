// Form1's window on Windows: controls built from the design table, messages forwarded to the core.
#include "app/win32/main_window.h"

#include <algorithm>

#include <commctrl.h>
#include <windowsx.h>

#include "app/win32/fonts.h"
#include "app/win32/icons.h"
#include "application/button_colours.h"
#include "application/layout.h"
#include "platform/colour.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_desktop.h"

namespace ssr::win32 {

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;
constexpr UINT_PTR kSubclassId = 1;
constexpr UINT_PTR kHeaderSubclassId = 2;

COLORREF Resolve(std::uint32_t colour) {
    if (IsSystemColor(colour)) return ::GetSysColor(SystemColorIndex(colour));
    return static_cast<COLORREF>(colour & 0x00FFFFFF);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, Form1& form)
    : m_instance(instance), m_form(form) {}

MainWindow::~MainWindow() {
    m_form.AttachView(nullptr);
    m_list_view.reset();
    if (m_window) ::SetWindowLongPtrW(m_window.get(), GWLP_USERDATA, 0);
    // The controls go before the window does; none of them may call back into
    // a half-destroyed object on the way.
    if (HWND list = List())
        if (HWND header = ListView_GetHeader(list)) ::RemoveWindowSubclass(header, ControlProc, kHeaderSubclassId);
    for (auto& control : m_controls)
        if (control.window) ::RemoveWindowSubclass(control.window.get(), ControlProc, kSubclassId);
}

bool MainWindow::RegisterFormClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (::GetClassInfoExW(m_instance, kFormClassName, &wc)) return true;
    // The design's own icon, the 32x32 image held as the program's resource.
    m_class_icon.reset(static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                       ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0)));
    m_class_icon_small.reset(static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                             ::GetSystemMetrics(SM_CXSMICON),
                                                             ::GetSystemMetrics(SM_CYSMICON), 0)));
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = m_instance;
    wc.hIcon = m_class_icon.get();
    wc.hIconSm = m_class_icon_small.get();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;  // WM_ERASEBKGND paints Form1's BackColor
    wc.lpszClassName = kFormClassName;
    return ::RegisterClassExW(&wc) != 0;
}

bool MainWindow::Create() {
    if (!RegisterFormClass()) return false;

    // Created on the primary monitor so the first DPI is that monitor's.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    HWND window = ::CreateWindowExW(kFormExStyle, kFormClassName, L"", kFormStyle, monitor.rcWork.left,
                                    monitor.rcWork.top, 100, 100, nullptr, nullptr, m_instance, this);
    if (!window) return false;
    m_dpi = static_cast<int>(::GetDpiForWindow(window));
    if (m_dpi <= 0) m_dpi = USER_DEFAULT_SCREEN_DPI;

    CreateFonts();
    CreateControls();
    PlaceWindow(std::nullopt);
    PlaceControls();
    AddListHint();

    m_form.AttachView(this);
    return true;
}

void MainWindow::CreateFonts() {
    m_button_font = MakeFont(design::kButtonFont, m_dpi);
    m_list_font = MakeFont(design::kListFont, m_dpi);
}

void MainWindow::CreateControls() {
    // Creation order is the tab order: the dialog keyboard interface walks
    // the children in the order they were made.
    std::vector<const ControlDesign*> designs;
    for (const auto& design : m_form.Controls())
        if (design.tab_index >= 0 && (design.kind == ControlKind::PushButton || design.kind == ControlKind::ListView))
            designs.push_back(&design);
    std::stable_sort(designs.begin(), designs.end(),
                     [](const ControlDesign* a, const ControlDesign* b) { return a->tab_index < b->tab_index; });

    for (const ControlDesign* design : designs) {
        Control control;
        control.design = design;
        const auto id = reinterpret_cast<HMENU>(
            static_cast<INT_PTR>(ControlId(static_cast<std::size_t>(design - m_form.Controls().data()))));
        if (design->kind == ControlKind::PushButton) {
            const std::wstring caption = Wide(design->caption);
            control.window.reset(::CreateWindowExW(
                0, WC_BUTTONW, caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_OWNERDRAW, 0,
                0, 0, 0, m_window.get(), id, m_instance, nullptr));
            ::SendMessageW(control.window.get(), WM_SETFONT, reinterpret_cast<WPARAM>(m_button_font.get()), FALSE);
        } else {
            control.window.reset(::CreateWindowExW(
                WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                m_window.get(), id, m_instance, nullptr));
            HWND list = control.window.get();
            ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
            ::SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(m_list_font.get()), FALSE);
            m_list_view = std::make_unique<EntryListView>(m_form.ListView1(), list, m_dpi);
            if (HWND header = ListView_GetHeader(list))
                ::SetWindowSubclass(header, ControlProc, kHeaderSubclassId, reinterpret_cast<DWORD_PTR>(this));
            m_last_focus = list;
        }
        if (control.window)
            ::SetWindowSubclass(control.window.get(), ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
        m_controls.push_back(std::move(control));
    }
    ApplyColors();
}

// System colours are looked up again whenever the user changes them.
void MainWindow::ApplyColors() {
    m_back_brush.reset(::CreateSolidBrush(Resolve(m_form.BackColor())));
    for (const auto& control : m_controls) {
        if (control.design->kind != ControlKind::ListView) continue;
        HWND list = control.window.get();
        const COLORREF back = Resolve(control.back_color.value_or(design::kListBackColor));
        ListView_SetTextColor(list, Resolve(design::kListTextColor));
        ListView_SetTextBkColor(list, back);
        ListView_SetBkColor(list, back);
    }
}

int MainWindow::Px(int twips) const { return design::Pixels(twips, m_dpi); }

void MainWindow::PlaceWindow(std::optional<POINT> top_left) {
    RECT frame{0, 0, Px(design::kClientWidth), Px(design::kClientHeight)};
    ::AdjustWindowRectExForDpi(&frame, kFormStyle, FALSE, kFormExStyle, static_cast<UINT>(m_dpi));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    POINT at{};
    if (top_left) {
        at = *top_left;
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        ::GetMonitorInfoW(::MonitorFromWindow(m_window.get(), MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& screen = monitor.rcMonitor;
        at.x = screen.left + std::max(0L, (screen.right - screen.left - width) / 2);
        at.y = screen.top + std::max(0L, (screen.bottom - screen.top - height) / 2);
    }
    ::SetWindowPos(m_window.get(), nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    // The frame may not be what the density says (a frame still drawn at the
    // old density, say); the client area is what the design fixes.
    RECT client{};
    ::GetClientRect(m_window.get(), &client);
    const int missing_width = Px(design::kClientWidth) - (client.right - client.left);
    const int missing_height = Px(design::kClientHeight) - (client.bottom - client.top);
    if (missing_width != 0 || missing_height != 0)
        ::SetWindowPos(m_window.get(), nullptr, 0, 0, width + missing_width, height + missing_height,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void MainWindow::PlaceControls() {
    for (auto& control : m_controls) {
        const TwipsRect& r = control.design->rect;
        ::SetWindowPos(control.window.get(), nullptr, Px(r.left), Px(r.top), Px(r.width), Px(r.height),
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void MainWindow::AddListHint() {
    HWND list = List();
    if (!list) return;
    m_tooltip.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window.get(),
                                      nullptr, m_instance, nullptr));
    if (!m_tooltip) return;
    // Lines: the hint, and over a row where its record lives.
    ::SendMessageW(m_tooltip.get(), TTM_SETMAXTIPWIDTH, 0, Px(design::kClientWidth));
    // The column headers are a window of their own inside the list; the hint
    // is about dragging their dividers, so it shows there too. The text is
    // asked for each time it shows (TTN_GETDISPINFO).
    for (HWND part : {list, ListView_GetHeader(list)}) {
        if (!part) continue;
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_window.get();
        tool.uId = reinterpret_cast<UINT_PTR>(part);
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        ::SendMessageW(m_tooltip.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

bool MainWindow::OnHintText(const NMHDR& header) {
    if (!m_tooltip || header.hwndFrom != m_tooltip.get() || header.code != TTN_GETDISPINFOW) return false;
    auto& info = *reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(&header));
    m_hint_text = Wide(design::kListHint);
    m_hint_row = -1;
    HWND list = List();
    if (list && info.hdr.idFrom == reinterpret_cast<UINT_PTR>(list)) {
        LVHITTESTINFO hit{};
        ::GetCursorPos(&hit.pt);
        ::ScreenToClient(list, &hit.pt);
        const int row = ListView_HitTest(list, &hit);
        const EntryList& entries = m_form.ListView1();
        if (row >= 0 && row < entries.Count() && (hit.flags & LVHT_ONITEM) != 0) {
            m_hint_row = row;
            for (const Text& line : m_form.RowHint(row + 1)) m_hint_text += L"\r\n" + Wide(line);
        }
    }
    info.lpszText = m_hint_text.data();
    return true;
}

// Moving onto another row asks for the hint's text again, so it names that row.
void MainWindow::FollowHintRow(LPARAM point) {
    HWND list = List();
    if (!m_tooltip || !list) return;
    LVHITTESTINFO hit{};
    hit.pt = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    const int row = ListView_HitTest(list, &hit);
    if (row != m_hint_row) ::SendMessageW(m_tooltip.get(), TTM_UPDATE, 0, 0);
}

void MainWindow::Show(int show_command) {
    ::ShowWindow(m_window.get(), show_command);
    if (m_list_view) m_list_view->Flush();
    ::UpdateWindow(m_window.get());
    if (HWND list = List()) {
        ::SetFocus(list);
        m_last_focus = list;
    }
}

int MainWindow::RunMessageLoop() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (m_window && ::IsDialogMessageW(m_window.get(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

HWND MainWindow::List() const {
    for (const auto& control : m_controls)
        if (control.design->kind == ControlKind::ListView) return control.window.get();
    return nullptr;
}

MainWindow::Control* MainWindow::FindControl(std::string_view name) {
    for (auto& control : m_controls)
        if (control.design->name == name) return &control;
    return nullptr;
}

const MainWindow::Control* MainWindow::FindControl(HWND window) const {
    for (const auto& control : m_controls)
        if (window && control.window.get() == window) return &control;
    return nullptr;
}

const MainWindow::Control* MainWindow::FindControl(int id) const {
    for (const auto& control : m_controls)
        if (::GetDlgCtrlID(control.window.get()) == id) return &control;
    return nullptr;
}

void MainWindow::Run(const Control* control, FormHandler ControlDesign::*event) {
    if (!control) return;
    if (const FormHandler handler = control->design->*event) m_form.Dispatch(handler);
}

// ---------------------------------------------------------------------------
// Window procedures. Nothing thrown below a handler may cross into Windows.

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_window.reset(window);
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(window, message, wparam, lparam);
    try {
        return self->handle_message(message, wparam, lparam);
    } catch (...) {
        return ::DefWindowProcW(window, message, wparam, lparam);
    }
}

LRESULT CALLBACK MainWindow::ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                         DWORD_PTR self) {
    try {
        return reinterpret_cast<MainWindow*>(self)->handle_control_message(window, message, wparam, lparam, id);
    } catch (...) {
        return ::DefSubclassProc(window, message, wparam, lparam);
    }
}

LRESULT MainWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    HWND window = m_window.get();
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wparam);
            const Control* control = FindControl(id);
            if (HIWORD(wparam) == BN_CLICKED && control && control->design->click) {
                std::optional<EntryListView::Batch> batch;
                if (m_list_view) batch.emplace(*m_list_view);
                Run(control, &ControlDesign::click);
                return 0;
            }
            // Enter, from the dialog keyboard interface: owner-drawn buttons
            // are never the default button, so the focused one takes it.
            if (id == IDOK && lparam == 0) {
                HWND focus = ::GetFocus();
                const Control* focused = FindControl(focus);
                if (focused && focused->design->click) ::SendMessageW(focus, BM_CLICK, 0, 0);
                return 0;
            }
            break;
        }
        case WM_NOTIFY:
            if (OnHintText(*reinterpret_cast<const NMHDR*>(lparam))) return 0;
            return m_list_view ? m_list_view->OnNotify(*reinterpret_cast<const NMHDR*>(lparam)) : 0;
        case WM_DRAWITEM:
            OnDrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
            return TRUE;
        case WM_MOUSEMOVE:
            m_form.Dispatch(&Form1::Form_MouseMove);
            return 0;
        case WM_SETCURSOR:
            if (LOWORD(lparam) == HTCLIENT) {
                if (HCURSOR cursor = PointerCursor()) {
                    ::SetCursor(cursor);
                    return TRUE;
                }
            }
            break;
        case WM_ERASEBKGND: {
            RECT client{};
            ::GetClientRect(window, &client);
            ::FillRect(reinterpret_cast<HDC>(wparam), &client, m_back_brush.get());
            return 1;
        }
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE) {
                HWND focus = ::GetFocus();
                if (focus && ::IsChild(window, focus)) m_last_focus = focus;
            } else if (m_last_focus && ::IsWindow(m_last_focus)) {
                ::SetFocus(m_last_focus);
            }
            return 0;
        case WM_NEXTDLGCTL: {
            // As a dialog answers it, so the window's focus can be moved like any dialog's.
            HWND target = LOWORD(lparam) ? reinterpret_cast<HWND>(wparam)
                                 : ::GetNextDlgTabItem(window, ::GetFocus(), wparam != 0 ? TRUE : FALSE);
            if (target && ::IsChild(window, target)) ::SetFocus(target);
            return 0;
        }
        case WM_SETFOCUS:
            if (m_last_focus && ::IsWindow(m_last_focus)) ::SetFocus(m_last_focus);
            return 0;
        case WM_SYSCOLORCHANGE:
            for (const auto& control : m_controls) ::SendMessageW(control.window.get(), message, wparam, lparam);
            ApplyColors();
            ::InvalidateRect(window, nullptr, TRUE);
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_CLOSE:
            m_form.Form_Unload();  // ends the process; it does not come back
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

LRESULT MainWindow::handle_control_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id) {
    const bool is_list = m_list_view && window == m_list_view->hwnd();
    if (is_list)
        if (const auto taken = m_list_view->OnInput(message, wparam, lparam)) return *taken;
    switch (message) {
        case WM_MOUSEMOVE:
            if (is_list) FollowHintRow(lparam);
            // The column headers are a window of their own inside the list.
            Run(FindControl(id == kHeaderSubclassId ? ::GetParent(window) : window), &ControlDesign::mouse_move);
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(window, ControlProc, id);
            break;
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wparam, lparam);
}

// ---------------------------------------------------------------------------
// The buttons: the design's font and colours on a white face, where the
// system's button text reads on white; else colours that read.

void MainWindow::OnDrawButton(const DRAWITEMSTRUCT& draw) {
    if (draw.CtlType != ODT_BUTTON) return;
    HDC dc = draw.hDC;
    RECT rect = draw.rcItem;
    const bool pressed = (draw.itemState & ODS_SELECTED) != 0;

    std::uint32_t face_colour = design::kButtonFaceColor;
    for (const auto& control : m_controls)
        if (control.window.get() == draw.hwndItem && control.back_color) face_colour = *control.back_color;
    const ButtonColours colours =
        ReadableButtonColours(Resolve(face_colour), Resolve(design::kButtonTextColor), Resolve(kSystemButtonFace));
    UniqueHbrush face_brush(::CreateSolidBrush(colours.face));
    ::FillRect(dc, &rect, face_brush.get());
    ::DrawEdge(dc, &rect, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

    wchar_t caption[128] = {};
    ::GetWindowTextW(draw.hwndItem, caption, static_cast<int>(std::size(caption)));
    RECT text_rect = rect;
    if (pressed) ::OffsetRect(&text_rect, 1, 1);
    HGDIOBJ old_font = ::SelectObject(dc, m_button_font.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, colours.text);
    ::DrawTextW(dc, caption, -1, &text_rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(dc, old_font);

    if ((draw.itemState & ODS_FOCUS) && !(draw.itemState & ODS_NOFOCUSRECT)) {
        RECT focus = rect;
        ::InflateRect(&focus, -4, -4);
        ::DrawFocusRect(dc, &focus);
    }
}

// ---------------------------------------------------------------------------
// Screen density changes: the design is in twips, so everything is laid out again.

void MainWindow::OnDpiChanged(int dpi, const RECT& suggested) {
    m_dpi = dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
    // The old fonts stay alive until no control uses them any more.
    UniqueHfont old_button_font = std::move(m_button_font);
    UniqueHfont old_list_font = std::move(m_list_font);
    CreateFonts();
    for (auto& control : m_controls) {
        HFONT font = control.design->kind == ControlKind::ListView ? m_list_font.get() : m_button_font.get();
        ::SendMessageW(control.window.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (m_list_view) m_list_view->SetDpi(m_dpi);
    PlaceWindow(POINT{suggested.left, suggested.top});
    PlaceControls();
}

// ---------------------------------------------------------------------------
// FormView

void MainWindow::ShowCaption(TextView caption) { ::SetWindowTextW(m_window.get(), Wide(caption).c_str()); }

void MainWindow::ShowIcon(const std::vector<IconImage>& images) {
    std::vector<UniqueHicon> icons;
    const IconImage* big = BestImageFor(images, ::GetSystemMetricsForDpi(SM_CXICON, static_cast<UINT>(m_dpi)));
    const IconImage* small = BestImageFor(images, ::GetSystemMetricsForDpi(SM_CXSMICON, static_cast<UINT>(m_dpi)));
    HICON big_icon = nullptr;
    HICON small_icon = nullptr;
    for (const auto& image : images) {
        UniqueHicon icon = MakeIcon(image);
        if (!icon) continue;
        if (&image == big) big_icon = icon.get();
        if (&image == small) small_icon = icon.get();
        icons.push_back(std::move(icon));
    }
    HWND window = m_window.get();
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
    ::SetClassLongPtrW(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(big_icon ? big_icon : m_class_icon.get()));
    ::SetClassLongPtrW(window, GCLP_HICONSM,
                       reinterpret_cast<LONG_PTR>(small_icon ? small_icon : m_class_icon_small.get()));
    // The old icons go only now that nothing shows them any more.
    m_icons = std::move(icons);
}

void MainWindow::ShowMouseIcon(const std::shared_ptr<PointerPicture>& picture) {
    m_mouse_icon = picture;
    m_mouse_icon_cursor = CursorOf(picture.get());
    RefreshPointer();
}

void MainWindow::ShowMousePointer(int setting) {
    m_pointer = setting;
    RefreshPointer();
}

HCURSOR MainWindow::PointerCursor() const {
    switch (m_pointer) {
        case kPointerHourglass: return ::LoadCursorW(nullptr, IDC_WAIT);
        case kPointerCustom: return m_mouse_icon_cursor ? m_mouse_icon_cursor : ::LoadCursorW(nullptr, IDC_HAND);
        default: return nullptr;  // the class's arrow, or a control's own pointer
    }
}

void MainWindow::RefreshPointer() {
    // The pointer otherwise changes only at the next move; a handler that
    // changed the setting wants it seen now.
    POINT at{};
    if (!m_window || !::GetCursorPos(&at)) return;
    HWND under = ::WindowFromPoint(at);
    if (under != m_window.get() && !::IsChild(m_window.get(), under)) return;
    const LRESULT hit = ::SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
    ::SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(hit, WM_MOUSEMOVE));
}

void MainWindow::ShowBackColor(std::string_view control, std::uint32_t colour) {
    if (control == "Form1") {
        m_back_brush.reset(::CreateSolidBrush(Resolve(colour)));
        ::InvalidateRect(m_window.get(), nullptr, TRUE);
        return;
    }
    Control* target = FindControl(control);
    if (!target) return;
    target->back_color = colour;
    ApplyColors();
    ::InvalidateRect(target->window.get(), nullptr, TRUE);
}

std::int32_t MainWindow::NativeHandle() const {
    // Window handles are 32-bit values even in 64-bit processes.
    return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(m_window.get()));
}

}  // namespace ssr::win32
