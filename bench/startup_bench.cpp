// Start-up of the Linux program: from starting the process to the first
// paint of its filled window (Qt offscreen), on one prefix whose system.reg
// holds 0, 10,000 and 30,000 uninstall entries. Every iteration runs
// startup_probe (the program's start, ending itself after that paint) as a
// child process:
//   time     real time from spawning the child to its end
//   cpu_ms   the child's processor time, user plus system
//   rows     the rows the window listed
//   faults   the child's page faults (its peak memory cannot be told here:
//            a spawned child counts its parent's pages until it starts)
// The second argument 1 starts it as the desktop entry does, with glibc's
// huge-page setting for the heap.
// Pin it to one core for figures that compare: `taskset -c 1 startup_bench`.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_prefix.h"

extern char** environ;

namespace {

using namespace ssr::bench;

struct ChildRun {
    bool ok = false;
    double seconds = 0;
    double cpu_ms = 0;
    double faults = 0;
    std::string output;
};

fs::path ProbePath() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path() / "startup_probe";
}

ChildRun RunProbe(const fs::path& probe, const fs::path& prefix, bool huge_pages) {
    ChildRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        const std::string variable = *e;
        if (!variable.starts_with("WINEPREFIX=") && !variable.starts_with("QT_QPA_PLATFORM=") &&
            !variable.starts_with("GLIBC_TUNABLES="))
            variables.push_back(variable);
    }
    if (huge_pages) variables.push_back("GLIBC_TUNABLES=glibc.malloc.hugetlb=1");
    variables.push_back("WINEPREFIX=" + prefix.string());
    variables.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> env;
    for (std::string& v : variables) env.push_back(v.data());
    env.push_back(nullptr);
    std::string program = probe.string();
    char* argv[] = {program.data(), nullptr};

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return run;
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) run.output.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    run.cpu_ms = ms(usage.ru_utime) + ms(usage.ru_stime);
    run.faults = static_cast<double>(usage.ru_minflt + usage.ru_majflt);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

void BM_StartToFilledWindow(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return;
    }
    prefix.Use(static_cast<int>(state.range(0)), /*warm=*/false);
    const fs::path probe = ProbePath();
    double cpu_ms = 0;
    double faults = 0;
    int rows = -1;
    for (auto _ : state) {
        const ChildRun run = RunProbe(probe, prefix.path(), state.range(1) != 0);
        if (!run.ok || run.output.empty()) {
            state.SkipWithError("the program did not show its window");
            return;
        }
        state.SetIterationTime(run.seconds);
        cpu_ms += run.cpu_ms;
        faults += run.faults;
        rows = std::atoi(run.output.c_str());
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu_ms, benchmark::Counter::kAvgIterations);
    state.counters["rows"] = rows;
    state.counters["faults"] = benchmark::Counter(faults, benchmark::Counter::kAvgIterations);
}

}  // namespace

BENCHMARK(BM_StartToFilledWindow)
    ->ArgsProduct({{0, 10000, 30000}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
