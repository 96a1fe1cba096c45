// sweep-stale-records for Linux: cleans the installed-programs list of the
// Wine prefix in $WINEPREFIX (else ~/.wine).

#include <QApplication>

#include "application/appearance.h"
#include "application/form1.h"
#include "main_window.h"
#include "platform/qt/qt_desktop.h"
#include "platform/wine/wine_prefix.h"
#include "platform/wine/wine_registry.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const std::filesystem::path prefix = ssr::wine::DefaultPrefix();
    ssr::WinePrefixRegistry registry(prefix);
    ssr::QtDesktop desktop(prefix);
    ssr::RecordingSkinEngine skin;
    ssr::Form1 form(registry, desktop, skin);
    ssr::MainWindow window(form);
    window.Start();
    return QApplication::exec();
}
