#pragma once
// The Linux program's command line, read before any window exists: the
// window's own (`[PREFIX]`, --choose) and the actions that run without a
// display (--list, --stale, --remove, --remove-stale, --backups, --restore)
// on one prefix or on every prefix found (--all). The Windows program takes
// no command line at all.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ssr {

struct CommandLineOptions {
    enum class Action { Run, Choose, Help, Version, Usage, List, Stale, Remove, RemoveStale, Backups, Restore };
    Action action = Action::Run;
    std::optional<std::filesystem::path> prefix;
    std::string problem;  // for Usage: what was wrong, in one line
    bool all = false;      // every prefix found instead of one
    bool json = false;
    bool dry_run = false;
    bool force = false;    // restore over records that hold something else
    std::vector<std::string> keys;          // --remove
    std::filesystem::path backup;           // --restore
};

// Whether an action runs in the terminal, without a window.
[[nodiscard]] bool RunsWithoutWindow(CommandLineOptions::Action action);

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // no display, no prefix chosen, an action refused or failed
inline constexpr int kExitUsage = 2;

// `arguments` without the program name.
[[nodiscard]] CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments);

[[nodiscard]] std::string CommandLineHelp();
[[nodiscard]] std::string CommandLineVersion();
[[nodiscard]] std::string CommandLineUsage(const std::string& problem);

// Whether a window could be shown at all, judged from the environment the way
// Qt picks its platform: $QT_QPA_PLATFORM when set (offscreen and the other
// platforms without a display server count), else an X11 or Wayland display.
using EnvironmentLookup = std::function<const char*(const char*)>;
[[nodiscard]] bool HasDisplay(const EnvironmentLookup& environment);

}  // namespace ssr
