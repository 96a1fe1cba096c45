// The Linux program's start as app/qt/main.cpp does it on the prefix named
// by $WINEPREFIX (no command line, no chooser), ending itself once the filled
// window has painted for the first time by closing the window, as the user
// ends the program: the unload ends the process at once, with no destructor
// run. It prints the number of rows, so the start-up benchmark can tell that
// the list was filled.
// It never starts another program: the promotion's one-in-a-hundred page
// opening is only counted.

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "application/appearance.h"
#include "application/form1.h"
#include "main_window.h"
#include "platform/qt/qt_desktop.h"
#include "platform/wine/discovery/prefix_discovery.h"
#include "platform/wine/prefix/prefix.h"
#include "platform/wine/wine_registry.h"

namespace {

class NoLaunch final : public ssr::ProcessLauncher {
public:
    [[nodiscard]] bool StartDetached(const ssr::LaunchRequest&) override { return true; }
    [[nodiscard]] bool StartWatched(const ssr::LaunchRequest&, ssr::ProcessWatch) override { return true; }
};

// After the window's first paint has finished: prints the rows and closes
// the window.
class CloseAfterPaint final : public QObject {
public:
    CloseAfterPaint(const ssr::Form1& form, QWidget& window) : m_form(form), m_window(window) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            QTimer::singleShot(0, qApp, [this] {
                std::printf("%d\n", m_form.ListView1().Count());
                std::fflush(stdout);
                m_window.close();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const ssr::Form1& m_form;
    QWidget& m_window;
    bool m_painted = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    const char* named = std::getenv("WINEPREFIX");
    const std::filesystem::path folder = named && *named ? named : "";
    if (!ssr::wine::IsPrefix(folder)) return 5;
    const auto prefix = std::make_shared<const ssr::wine::Prefix>(folder);
    ssr::WinePrefixRegistry registry(prefix);
    QApplication application(argc, argv);
    ssr::QtDesktop desktop(prefix, std::make_unique<ssr::MersenneRandom>(), std::make_unique<NoLaunch>());
    desktop.UseEnvironmentOf(registry);
    ssr::NullSkinEngine skin;
    ssr::Form1 form(registry, desktop, skin);
    ssr::MainWindow window(form);
    CloseAfterPaint close(form, window);
    window.installEventFilter(&close);
    // A window that never paints is a failed start, not a hung benchmark.
    QTimer::singleShot(10000, &application, [] { QCoreApplication::exit(3); });
    window.ShowPrefix(QString::fromStdString(prefix->path().string()));
    window.Start();
    return QApplication::exec();
}
