// Programs started through QProcess with their paths, arguments and variables as bytes.
#include "platform/qt/process_launcher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/wine/posix/posix.h"

extern char** environ;

namespace ssr {

namespace {

// Enough of a program's standard error to find Wine's own complaint in it.
constexpr qsizetype kKeptErrorOutput = 4096;

enum class Detach { No, Yes };

// Everything the child needs, made before the fork: after it, in the child
// of a program with threads, only calls that are safe there may run.
struct ExecPlan {
    std::string file;
    std::vector<std::string> arguments;  // the program as the request names it first
    std::vector<std::string> changed;    // NAME=value
    std::string working_directory;
    std::vector<char*> argv;
    std::vector<char*> envp;
    Detach detach = Detach::No;
    int report = -1;  // the child writes its errno here when the program did not start
};

std::shared_ptr<ExecPlan> PlanOf(const LaunchRequest& request, std::string file, Detach detach) {
    auto plan = std::make_shared<ExecPlan>();
    plan->file = std::move(file);
    plan->arguments.push_back(request.program);
    plan->arguments.insert(plan->arguments.end(), request.arguments.begin(), request.arguments.end());
    for (const auto& [name, value] : request.environment) plan->changed.push_back(name + "=" + value);
    plan->working_directory = request.working_directory;
    plan->detach = detach;
    for (std::string& argument : plan->arguments) plan->argv.push_back(argument.data());
    plan->argv.push_back(nullptr);
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view variable = *entry;
        const bool replaced = std::any_of(request.environment.begin(), request.environment.end(), [&](const auto& change) {
            return variable.size() > change.first.size() && variable.starts_with(change.first) &&
                   variable[change.first.size()] == '=';
        });
        if (!replaced) plan->envp.push_back(*entry);
    }
    for (std::string& entry : plan->changed) plan->envp.push_back(entry.data());
    plan->envp.push_back(nullptr);
    return plan;
}

// Runs in the child in place of Qt's own exec, which would start the
// program from QStrings. It returns only to end the child.
void ExecChild(const ExecPlan& plan) {
    // As Qt would leave them before its own exec: no signal blocked, SIGPIPE as programs expect it.
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (plan.detach == Detach::Yes) {
        // A grandchild in a session of its own, so that nobody waits for it
        // and it outlives us; Qt sees the child end at once.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    }
    int error = 0;
    if (!plan.working_directory.empty() && ::chdir(plan.working_directory.c_str()) != 0) {
        error = errno;
    } else {
        ::execve(plan.file.c_str(), plan.argv.data(), plan.envp.data());
        error = errno;
    }
    static_cast<void>(!::write(plan.report, &error, sizeof error));
    ::_exit(127);
}

// Starts the request in `process`; true once the program itself runs.
bool StartExactly(QProcess& process, const LaunchRequest& request, Detach detach) {
    std::string file = FindProgram(request.program, std::getenv("PATH"));
    if (file.empty()) return false;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    const wine::UniqueFd report(ends[0]);
    wine::UniqueFd report_writer(ends[1]);
    auto plan = PlanOf(request, std::move(file), detach);
    plan->report = report_writer.get();
    // Only Qt's messages name this program: the child never reaches Qt's exec.
    process.setProgram(QFile::decodeName(plan->file.c_str()));
    process.setChildProcessModifier([plan] { ExecChild(*plan); });
    process.start();
    const bool forked = process.waitForStarted();
    report_writer.reset();  // the child's copy goes with its exec or its end
    if (!forked) return false;
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(report.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    return got == 0;
}

}  // namespace

std::string FindProgram(const std::string& program, const char* search_path) {
    const auto runnable = [](const std::string& file) {
        struct stat status {};
        return ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(file.c_str(), X_OK) == 0;
    };
    if (program.empty()) return {};
    if (program.find('/') != std::string::npos) return program;
    // As the shell looks: an empty entry is the current folder.
    const std::string_view path = search_path ? search_path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string_view folder = path.substr(start, end - start);
        const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + program;
        if (runnable(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

bool QProcessLauncher::StartDetached(const LaunchRequest& request) {
    auto* process = new QProcess;
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    if (StartExactly(*process, request, Detach::Yes)) return true;
    QObject::disconnect(process, nullptr, nullptr, nullptr);
    delete process;
    return false;
}

bool QProcessLauncher::StartWatched(const LaunchRequest& request, ProcessWatch ended) {
    // No parent: the process object lives until the program ends, and a
    // window that closes first leaves the program running (the process ends
    // at once, without destructors).
    auto* process = new QProcess;
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    auto kept = std::make_shared<QByteArray>();
    auto clock = std::make_shared<QElapsedTimer>();
    QObject::connect(process, &QProcess::readyReadStandardError, process, [process, kept] {
        const QByteArray said = process->readAllStandardError();
        std::fwrite(said.constData(), 1, static_cast<std::size_t>(said.size()), stderr);
        if (kept->size() < kKeptErrorOutput) kept->append(said.left(kKeptErrorOutput - kept->size()));
    });
    QObject::connect(process, &QProcess::finished, process,
                     [process, kept, clock, ended = std::move(ended)](int exit_code, QProcess::ExitStatus status) {
                         const QByteArray rest = process->readAllStandardError();
                         std::fwrite(rest.constData(), 1, static_cast<std::size_t>(rest.size()), stderr);
                         kept->append(rest.left(std::max<qsizetype>(0, kKeptErrorOutput - kept->size())));
                         process->deleteLater();
                         if (ended)
                             ended(ProcessOutcome{exit_code, status == QProcess::CrashExit,
                                                  std::chrono::milliseconds(clock->elapsed()), *kept});
                     });
    clock->start();
    // Only the start is waited for (the exec), never the program.
    if (StartExactly(*process, request, Detach::No)) return true;
    // Heard of as not started, never as ended.
    QObject::disconnect(process, nullptr, nullptr, nullptr);
    delete process;
    return false;
}

}  // namespace ssr
