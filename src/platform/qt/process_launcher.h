#pragma once
// Starting programs for the Linux desktop: Wine and its server for an
// uninstaller, the browser for the home page. Every path and variable goes to
// the program as the bytes it is on disk; Qt would take them through QString,
// and bytes that are not UTF-8 would come out changed.

#include <QByteArray>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ssr {

// A program to start, in bytes as the system takes them: a prefix's folder
// name, and so every path in it, need not be UTF-8, and a Wine started with a
// changed one would run in another prefix.
struct LaunchRequest {
    std::string program;  // a path, or a name looked up in PATH
    std::vector<std::string> arguments;
    std::string working_directory;                                 // empty: ours
    std::vector<std::pair<std::string, std::string>> environment;  // set on top of ours
};

// How a watched program ended.
struct ProcessOutcome {
    int exit_code = 0;
    bool crashed = false;
    std::chrono::milliseconds ran_for{0};
    QByteArray error_output;  // the start of what it wrote to its standard error
};
using ProcessWatch = std::function<void(const ProcessOutcome&)>;

// Starts programs; tests put in one that only records.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts a program that runs on its own; true when it was started.
    [[nodiscard]] virtual bool StartDetached(const LaunchRequest& request) = 0;
    // Starts a program and tells `ended`, from the event loop, when it has
    // ended; nothing waits for it. True when it was started.
    [[nodiscard]] virtual bool StartWatched(const LaunchRequest& request, ProcessWatch ended) = 0;
};

// Started means the program itself runs: a program that is not there, or
// cannot be run, or a working folder that cannot be entered, is not started.
class QProcessLauncher final : public ProcessLauncher {
public:
    [[nodiscard]] bool StartDetached(const LaunchRequest& request) override;
    // What the program writes to its standard error still reaches ours.
    [[nodiscard]] bool StartWatched(const LaunchRequest& request, ProcessWatch ended) override;
};

// The file that `program` names: itself when it names a folder, else the
// first executable file of that name in `search_path` (PATH's form). Empty
// when there is none.
[[nodiscard]] std::string FindProgram(const std::string& program, const char* search_path);

}  // namespace ssr
