#pragma once
// The Linux program's command line, read before any window exists:
// `sweep-stale-records [PREFIX]`, --choose, --help and --version. The Windows program
// takes no command line at all.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ssr {

struct CommandLineOptions {
    enum class Action { Run, Choose, Help, Version, Usage };
    Action action = Action::Run;
    std::optional<std::filesystem::path> prefix;
    std::string problem;  // for Usage: what was wrong, in one line
};

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // no display, or no prefix chosen
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
