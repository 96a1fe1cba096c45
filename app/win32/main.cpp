// The Windows program: builds Form1 from its design, runs Form_Load, and only
// then shows the window, so every report of the start-up comes before it.

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/win32/main_window.h"
#include "application/appearance.h"
#include "application/form1.h"
#include "platform/win32/win32_desktop.h"
#include "platform/win32/win32_registry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int show_command) {
    // The manifest asks for per-monitor awareness; this covers a copy of the
    // program that lost it.
    if (!::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2))
        ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    // The shell wants a single-threaded apartment for ShellExecute.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    int exit_code = 1;
    try {
        ssr::win32::Win32Registry registry;
        ssr::win32::Win32Desktop desktop(ssr::design::kProductTitle);
        ssr::NullSkinEngine skin;
        ssr::Form1 form(registry, desktop, skin);
        ssr::win32::MainWindow window(instance, form);
        if (window.Create()) {
            desktop.SetOwner(window.hwnd());
            form.Form_Load();
            window.Show(show_command);
            exit_code = window.RunMessageLoop();
        }
    } catch (...) {
        exit_code = 1;
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return exit_code;
}
