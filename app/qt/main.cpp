// sweep-stale-records for Linux: cleans the installed-programs list of a Wine
// prefix: the one named on the command line, else $WINEPREFIX, else ~/.wine,
// and when that is not a prefix or --choose asks for it, the one the user
// picks from those found.

#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <iostream>
#include <cstdlib>
#include <string>

#include "application/appearance.h"
#include "application/form1.h"
#include "command_line.h"
#include "console_actions.h"
#include "linux_prefix.h"
#include "main_window.h"
#include "platform/qt/qt_desktop.h"
#include "platform/wine/backups/backups.h"
#include "platform/wine/discovery/prefix_discovery.h"
#include "platform/wine/wine_registry.h"
#include "prefix_chooser.h"

namespace {

namespace fs = std::filesystem;

void Print(std::FILE* stream, const std::string& text) { std::fputs(text.c_str(), stream); }

fs::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

// While Qt connects to the display, its messages are held back: when the
// connection fails (a DISPLAY that names no running server), the user gets
// one line from us instead of Qt's abort.
bool g_starting_qt = true;
QtMessageHandler g_qt_handler = nullptr;
QStringList g_held;

void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_starting_qt && type == QtFatalMsg) {
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const std::string named = display && *display ? std::string(display) : wayland && *wayland ? wayland : "";
        Print(stderr, "sweep-stale-records: cannot connect to the display " + named +
                          "; start it from a desktop session\n");
        std::_Exit(ssr::kExitFailure);
    }
    if (g_starting_qt) {
        g_held.append(message);
        return;
    }
    if (g_qt_handler) g_qt_handler(type, context, message);
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ssr::CommandLineOptions options = ssr::ParseCommandLine(arguments);
    switch (options.action) {
        case ssr::CommandLineOptions::Action::Help: Print(stdout, ssr::CommandLineHelp()); return ssr::kExitOk;
        case ssr::CommandLineOptions::Action::Version: Print(stdout, ssr::CommandLineVersion()); return ssr::kExitOk;
        case ssr::CommandLineOptions::Action::Usage: Print(stderr, ssr::CommandLineUsage(options.problem)); return ssr::kExitUsage;
        default: break;
    }
    // The command line's actions need no display, and get no QApplication.
    if (ssr::RunsWithoutWindow(options.action)) {
        std::fflush(stdout);
        return ssr::RunConsoleAction(options, HomeFolder(), std::getenv("WINEPREFIX"), std::cout, std::cerr);
    }
    if (!ssr::HasDisplay([](const char* name) { return std::getenv(name); })) {
        Print(stderr, "sweep-stale-records: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                      "start it from a desktop session\n");
        return ssr::kExitFailure;
    }

    // The prefix is settled before Qt starts when no one has to choose it.
    const fs::path home = HomeFolder();
    const bool choose = options.action == ssr::CommandLineOptions::Action::Choose;
    ssr::RequestedFolder requested;
    if (!choose) requested = ssr::RequestedPrefixFolder(options.prefix, std::getenv("WINEPREFIX"), home);
    const bool settled = !choose && requested.is_prefix;
    std::shared_ptr<const ssr::wine::Prefix> prefix;
    std::unique_ptr<ssr::WinePrefixRegistry> registry;
    const auto open = [&](const fs::path& folder) {
        prefix = std::make_shared<const ssr::wine::Prefix>(folder);
        registry = std::make_unique<ssr::WinePrefixRegistry>(prefix);
    };
    if (settled) open(requested.folder);

    // Qt sees none of our arguments: a prefix path must never be taken for one of its options.
    int qt_argc = 1;
    g_qt_handler = qInstallMessageHandler(StartupMessages);
    QApplication application(qt_argc, argv);
    g_starting_qt = false;
    qInstallMessageHandler(g_qt_handler);
    for (const QString& message : g_held) Print(stderr, message.toStdString() + "\n");
    g_held.clear();

    if (!settled) {
        std::vector<std::string> notes;
        std::vector<ssr::wine::FoundPrefix> found = ssr::wine::DiscoverPrefixes(home, &notes);
        for (const std::string& note : notes) Print(stderr, "sweep-stale-records: " + note + "\n");
        ssr::PrefixChooser chooser(choose ? QString() : ssr::ChooserReason(requested.request, home), std::move(found), home);
        if (chooser.exec() != QDialog::Accepted || !chooser.Chosen()) {
            Print(stderr, "sweep-stale-records: no Wine prefix chosen\n");
            return ssr::kExitFailure;
        }
        open(*chooser.Chosen());
    }
    Print(stderr, "sweep-stale-records: Wine prefix " + prefix->path().string() + "\n");
    // What a killed run left in the prefix goes at the next start on it.
    ssr::wine::RemoveLeftovers(*prefix);
    ssr::QtDesktop desktop(prefix);
    desktop.UseEnvironmentOf(*registry);
    ssr::NullSkinEngine skin;
    ssr::Form1 form(*registry, desktop, skin);
    ssr::MainWindow window(form);
    window.ShowPrefix(QString::fromStdString(prefix->path().string()),
                      QString::fromStdString(ssr::LinuxPrefix(prefix->path(), home).Title()));
    window.Start();
    return QApplication::exec();
}
