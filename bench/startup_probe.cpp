// The Linux program's start as app/qt/main.cpp does it, ending itself once
// the filled window has painted for the first time. It prints the number of
// rows, so the start-up benchmark can tell that the list was filled.
// It never starts another program: the promotion's one-in-a-hundred page
// opening is only counted.

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>

#include "application/appearance.h"
#include "application/form1.h"
#include "main_window.h"
#include "platform/qt/qt_desktop.h"
#include "platform/wine/wine_prefix.h"
#include "platform/wine/wine_registry.h"

namespace {

class NoLaunch final : public ssr::ProcessLauncher {
public:
    [[nodiscard]] bool StartDetached(const ssr::LaunchRequest&) override { return true; }
};

// Quits after the window's first paint has finished.
class QuitAfterPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }
    [[nodiscard]] bool painted() const { return m_painted; }

private:
    bool m_painted = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const std::filesystem::path prefix = ssr::wine::DefaultPrefix();
    ssr::WinePrefixRegistry registry(prefix);
    ssr::QtDesktop desktop(prefix, std::make_unique<ssr::MersenneRandom>(), std::make_unique<NoLaunch>());
    ssr::RecordingSkinEngine skin;
    ssr::Form1 form(registry, desktop, skin);
    ssr::MainWindow window(form);
    QuitAfterPaint quit;
    window.installEventFilter(&quit);
    // A window that never paints is a failed start, not a hung benchmark.
    QTimer::singleShot(10000, &application, [] { QCoreApplication::exit(3); });
    window.Start();
    const int code = QApplication::exec();
    if (code != 0 || !quit.painted()) return code != 0 ? code : 4;
    std::printf("%d\n", form.ListView1().Count());
    return 0;
}
