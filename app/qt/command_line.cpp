// Reading the Linux program's command line and printing its help.
#include "command_line.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>
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

bool RunsWithoutWindow(CommandLineOptions::Action action) {
    using Action = CommandLineOptions::Action;
    switch (action) {
        case Action::List:
        case Action::Stale:
        case Action::Remove:
        case Action::RemoveStale:
        case Action::Backups:
        case Action::Restore: return true;
        default: return false;
    }
}

CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    using Action = CommandLineOptions::Action;
    CommandLineOptions options;
    const auto usage = [](std::string problem) {
        CommandLineOptions wrong;
        wrong.action = Action::Usage;
        wrong.problem = std::move(problem);
        return wrong;
    };
    const std::pair<std::string_view, Action> actions[] = {
        {"--choose", Action::Choose}, {"--list", Action::List},       {"--stale", Action::Stale},
        {"--remove", Action::Remove}, {"--remove-stale", Action::RemoveStale}, {"--backups", Action::Backups},
        {"--restore", Action::Restore}};
    std::string action_name;
    bool options_ended = false;
    bool taking_keys = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool is_option = !options_ended && argument.size() > 1 && argument.front() == '-';
        // After --remove every argument is a key until the next option; after
        // "--" every one is, a key that begins with a dash among them.
        if (!options_ended && argument == "--") {
            options_ended = true;
            continue;
        }
        if (taking_keys && !is_option) {
            if (argument.empty()) return usage("an empty key names no record");
            options.keys.push_back(argument);
            continue;
        }
        taking_keys = false;
        if (!options_ended && (argument == "--help" || argument == "-h")) {
            CommandLineOptions help;
            help.action = Action::Help;
            return help;
        } else if (!options_ended && argument == "--version") {
            CommandLineOptions version;
            version.action = Action::Version;
            return version;
        } else if (is_option && (argument == "--all" || argument == "--json" || argument == "--dry-run" || argument == "--force")) {
            (argument == "--all" ? options.all : argument == "--json" ? options.json
                                               : argument == "--dry-run" ? options.dry_run : options.force) = true;
        } else if (is_option) {
            const auto* found = std::find_if(std::begin(actions), std::end(actions),
                                             [&argument](const auto& a) { return a.first == argument; });
            if (found == std::end(actions)) return usage("unknown option '" + argument + "'");
            if (!action_name.empty()) return usage(action_name + " and " + argument + " cannot go together");
            action_name = argument;
            options.action = found->second;
            if (options.action == Action::Remove) taking_keys = true;
            if (options.action == Action::Restore) {
                if (i + 1 >= arguments.size() || arguments[i + 1].empty()) return usage("--restore needs a backup file");
                options.backup = arguments[++i];
            }
        } else if (argument.empty()) {
            return usage("the prefix path is empty");
        } else if (options.prefix) {
            return usage("more than one prefix path given");
        } else {
            options.prefix = argument;
        }
    }
    const bool console = RunsWithoutWindow(options.action);
    const auto named = [&](bool set, const char* option) { return set ? std::string(option) : std::string(); };
    if (options.action == Action::Choose && options.prefix) return usage("--choose takes no prefix path");
    if (options.action == Action::Remove && options.keys.empty()) return usage("--remove needs the key of a record");
    if (options.all && options.prefix) return usage("--all takes no prefix path");
    for (const std::string& misplaced :
         {named(options.all && (!console || options.action == Action::Remove || options.action == Action::Restore ||
                                 options.action == Action::Backups), "--all"),
          named(options.json && options.action != Action::List && options.action != Action::Stale &&
                    options.action != Action::Backups, "--json"),
          named(options.dry_run && options.action != Action::Remove && options.action != Action::RemoveStale &&
                    options.action != Action::Restore, "--dry-run"),
          named(options.force && options.action != Action::Restore, "--force")})
        if (!misplaced.empty())
            return usage(misplaced + (action_name.empty() ? " needs an action" : " does not go with " + action_name));
    return options;
}

std::string CommandLineHelp() {
    const std::string program(kProgram);
    std::string text;
    text += "Usage: " + program + " [PREFIX]\n";
    text += "       " + program + " --choose\n";
    text += "       " + program + " [PREFIX | --all] --list | --stale [--json]\n";
    text += "       " + program + " [PREFIX] --remove KEY... [--dry-run]\n";
    text += "       " + program + " [PREFIX | --all] --remove-stale [--dry-run]\n";
    text += "       " + program + " [PREFIX] --backups [--json]\n";
    text += "       " + program + " [PREFIX] --restore FILE [--force] [--dry-run]\n";
    text += "Sweeps stale records out of the list of installed programs of a Wine prefix.\n"
            "\n"
            "PREFIX is the Wine prefix to open. Without it, $WINEPREFIX is opened, else ~/.wine.\n"
            "When that folder holds no system.reg, a window lists the prefixes found in the\n"
            "usual places (~/.wine*, winetricks, Bottles, Lutris, every Steam library) to\n"
            "choose from. A Steam game's compatdata folder stands for the prefix in its pfx.\n"
            "\n"
            "      --choose        show that window first, even when $WINEPREFIX or ~/.wine is one\n"
            "\n"
            "Without a window (no display needed), on PREFIX as above or on --all found:\n"
            "      --list          every record: name, location, key, what Suggest says\n"
            "                      (stale, live or cannot tell, with the reason) and command\n"
            "      --stale         only the records Suggest would check\n"
            "      --json          the same as a JSON array, one object per record\n"
            "      --remove KEY... remove these records (KEY: the key's name, or its whole\n"
            "                      path as --list shows it)\n"
            "      --remove-stale  remove every record Suggest would check\n"
            "      --dry-run       say what would be removed or restored; change nothing\n"
            "      --backups       this prefix's backup files, newest first\n"
            "      --restore FILE  put the records of a backup file back into the prefix's\n"
            "                      registry files, without Wine; only records (keys below an\n"
            "                      Uninstall key) are written, and a record that is there\n"
            "                      with other contents is refused unless --force\n"
            "  -h, --help          show this help and exit\n"
            "      --version       show the version and exit\n"
            "\n"
            "Every removal first writes a backup of the records it removes, and says where:\n"
            "<prefix>/drive_c/users/<user>/AppData/Local/Sweep Stale Records/Backups/.\n"
            "Nothing is written while a Wine program runs in the prefix (its wineserver\n"
            "would write its own copy over the change): close it, or run\n"
            "\"WINEPREFIX=<prefix> wineserver -k\", naming the prefix.\n"
            "Uninstallers run through $WINE when set, else through wine.\n"
            "\n"
            "Exit status: 0 when done; 1 without a display, when no prefix was chosen, or\n"
            "when an action was refused or failed (the reason on standard error);\n"
            "2 for a wrong command line.\n";
    return text;
}

std::string CommandLineVersion() { return std::string(kProgram) + " " SSR_VERSION "\n"; }

std::string CommandLineUsage(const std::string& problem) {
    return std::string(kProgram) + ": " + problem + "\nUsage: " + std::string(kProgram) + " [PREFIX] [ACTION]\nTry '" +
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
