#include "command_line.h"

#include <array>
#include <string_view>

#ifndef SSR_VERSION
#define SSR_VERSION "unknown"
#endif

namespace ssr {

namespace {

constexpr std::string_view kProgram = "sweep-stale-records";

bool IsSet(const EnvironmentLookup& environment, const char* name) {
    const char* value = environment(name);
    return value && *value;
}

// Platforms that draw without an X11 or Wayland server.
bool NeedsNoServer(std::string_view platform) {
    constexpr std::array<std::string_view, 7> kStandalone{"offscreen", "minimal", "minimalegl", "eglfs",
                                                         "linuxfb",   "vnc",     "vkkhrdisplay"};
    for (const std::string_view name : kStandalone)
        if (platform == name) return true;
    return false;
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineOptions options;
    bool options_ended = false;
    for (const std::string& argument : arguments) {
        if (!options_ended && argument == "--") {
            options_ended = true;
        } else if (!options_ended && (argument == "--help" || argument == "-h")) {
            return {CommandLineOptions::Action::Help, std::nullopt, {}};
        } else if (!options_ended && argument == "--version") {
            return {CommandLineOptions::Action::Version, std::nullopt, {}};
        } else if (!options_ended && argument == "--choose") {
            options.action = CommandLineOptions::Action::Choose;
        } else if (!options_ended && argument.size() > 1 && argument.front() == '-') {
            return {CommandLineOptions::Action::Usage, std::nullopt, "unknown option '" + argument + "'"};
        } else if (argument.empty()) {
            return {CommandLineOptions::Action::Usage, std::nullopt, "the prefix path is empty"};
        } else if (options.prefix) {
            return {CommandLineOptions::Action::Usage, std::nullopt, "more than one prefix path given"};
        } else {
            options.prefix = argument;
        }
    }
    if (options.action == CommandLineOptions::Action::Choose && options.prefix)
        return {CommandLineOptions::Action::Usage, std::nullopt, "--choose takes no prefix path"};
    return options;
}

std::string CommandLineHelp() {
    std::string text;
    text += "Usage: " + std::string(kProgram) + " [PREFIX]\n";
    text += "       " + std::string(kProgram) + " --choose\n";
    text += "Sweeps stale records out of the list of installed programs of a Wine prefix.\n"
            "\n"
            "PREFIX is the Wine prefix to open. Without it, $WINEPREFIX is opened, else ~/.wine.\n"
            "When that folder holds no system.reg, a window lists the prefixes found in the\n"
            "usual places (~/.wine*, winetricks, Bottles, Lutris, every Steam library) to\n"
            "choose from.\n"
            "\n"
            "      --choose   show that window first, even when $WINEPREFIX or ~/.wine is one\n"
            "  -h, --help     show this help and exit\n"
            "      --version  show the version and exit\n"
            "\n"
            "Uninstallers run through $WINE when set, else through wine.\n"
            "Exit status: 0 when done, 1 without a display or when no prefix was chosen,\n"
            "2 for a wrong command line.\n";
    return text;
}

std::string CommandLineVersion() { return std::string(kProgram) + " " SSR_VERSION "\n"; }

std::string CommandLineUsage(const std::string& problem) {
    return std::string(kProgram) + ": " + problem + "\nUsage: " + std::string(kProgram) + " [PREFIX]\nTry '" +
           std::string(kProgram) + " --help' for more.\n";
}

bool HasDisplay(const EnvironmentLookup& environment) {
    const bool x11 = IsSet(environment, "DISPLAY");
    const bool wayland = IsSet(environment, "WAYLAND_DISPLAY");
    const char* requested = environment("QT_QPA_PLATFORM");
    if (!requested || !*requested) return x11 || wayland;
    // A list of platforms to try in turn ("wayland;xcb"), each maybe with options ("offscreen:size=...").
    std::string_view list = requested;
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        std::string_view entry = list.substr(0, end);
        entry = entry.substr(0, entry.find(':'));
        if (NeedsNoServer(entry)) return true;
        if (entry == "xcb" && x11) return true;
        if (entry.starts_with("wayland") && wayland) return true;
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return false;
}

}  // namespace ssr
