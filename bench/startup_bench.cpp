// Start-up of the Linux program beside its peer, on one prefix whose
// system.reg holds 0, 10,000 and 30,000 uninstall entries.
//
// BM_StartToFilledWindow runs startup_probe (the program's start, ending
// itself as the program does once its filled window has painted, Qt
// offscreen) as a child process per iteration:
//   time     real time from spawning the child to the end of its first paint
//            (the probe writes its row count then)
//   exit_ms  real time from spawning the child to its end
//   cpu_ms   the child's processor time, user plus system
//   peak_mb  the child's peak resident memory
//   faults   the child's page faults
//   rows     the rows the window listed
//
// BM_ListCommand runs the program's own console listing, `sweep-stale-records
// --list PREFIX` (each record with its verdict, no window), the like of the
// peer's below:
//   time     real time from spawning it to its end
//   cpu_ms, peak_mb  as above
//   lines    the lines it wrote
//
// BM_PeerList runs `wine uninstaller --list` on the same prefix with its own
// wineserver started cold (no server ran on the prefix before):
//   time            from starting the server to the list's end
//   uninstaller_mb  the uninstaller's peak resident memory
//   server_mb       the server's
//   peak_mb         both together, the figure to hold ours against
//   rows            the lines it listed
//
// Children start through measured_run, so that their peak memory is their
// own: a child made by this process would count this process's pages too.
// Pin it to one core for figures that compare: `taskset -c 1 startup_bench`.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
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
    // Until the child first wrote to its output, when capturing it.
    double first_output_seconds = 0;
    double cpu_ms = 0;
    double faults = 0;
    double peak_kb = 0;
    std::string output;
};

fs::path BesideBench(const char* name) {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path() / name;
}

// This process's environment without the variables a run sets itself.
std::vector<std::string> BaseEnvironment() {
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        const std::string variable = *e;
        if (!variable.starts_with("WINEPREFIX=") && !variable.starts_with("QT_QPA_PLATFORM=") &&
            !variable.starts_with("WINEDEBUG="))
            variables.push_back(variable);
    }
    return variables;
}

// One program started through measured_run; Finish waits for it and reads its figures.
class MeasuredChild {
public:
    MeasuredChild(const std::vector<std::string>& command, std::vector<std::string> environment, bool capture) {
        char figures[] = "/tmp/ssr-figures-XXXXXX";
        const int fd = ::mkstemp(figures);
        if (fd < 0) return;
        ::close(fd);
        m_figures = figures;
        std::vector<std::string> arguments{BesideBench("measured_run").string(), m_figures};
        arguments.insert(arguments.end(), command.begin(), command.end());
        int out[2] = {-1, -1};
        if (capture && ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (capture) posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> env;
        for (std::string& v : environment) env.push_back(v.data());
        env.push_back(nullptr);
        m_start = std::chrono::steady_clock::now();
        const int spawned = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        if (capture) ::close(out[1]);
        if (spawned != 0) {
            m_pid = -1;
            if (capture) ::close(out[0]);
            return;
        }
        m_out = capture ? out[0] : -1;
    }
    MeasuredChild(const MeasuredChild&) = delete;
    MeasuredChild& operator=(const MeasuredChild&) = delete;
    ~MeasuredChild() {
        if (m_out >= 0) ::close(m_out);
        if (!m_figures.empty()) ::unlink(m_figures.c_str());
    }

    [[nodiscard]] ChildRun Finish() {
        ChildRun run;
        if (m_pid < 0) return run;
        char buffer[4096];
        if (m_out >= 0)
            for (ssize_t n; (n = ::read(m_out, buffer, sizeof buffer)) > 0;) {
                if (run.output.empty())
                    run.first_output_seconds =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
                run.output.append(buffer, static_cast<std::size_t>(n));
            }
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        long peak_kb = 0;
        double cpu_ms = 0;
        long faults = 0;
        int child_status = -1;
        if (std::FILE* figures = std::fopen(m_figures.c_str(), "r")) {
            if (std::fscanf(figures, "%ld %lf %ld %d", &peak_kb, &cpu_ms, &faults, &child_status) != 4) child_status = -1;
            std::fclose(figures);
        }
        run.peak_kb = static_cast<double>(peak_kb);
        run.cpu_ms = cpu_ms;
        run.faults = static_cast<double>(faults);
        run.ok = child_status == 0;
        return run;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_figures;
    std::chrono::steady_clock::time_point m_start;
};

ChildRun RunProbe(const fs::path& prefix) {
    std::vector<std::string> environment = BaseEnvironment();
    environment.push_back("WINEPREFIX=" + prefix.string());
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    MeasuredChild probe({BesideBench("startup_probe").string()}, std::move(environment), /*capture=*/true);
    return probe.Finish();
}

// The shared prefix with state.range(0) records and no server running on
// it, or nothing (the run skipped) when no prefix could be made.
BenchPrefix* ColdPrefix(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return nullptr;
    }
    prefix.Use(static_cast<int>(state.range(0)), /*warm=*/false);
    return &prefix;
}

void BM_StartToFilledWindow(benchmark::State& state) {
    const BenchPrefix* prefix = ColdPrefix(state);
    if (!prefix) return;
    double cpu_ms = 0;
    double exit_ms = 0;
    double faults = 0;
    double peak_kb = 0;
    int rows = -1;
    for (auto _ : state) {
        const ChildRun run = RunProbe(prefix->path());
        if (!run.ok || run.output.empty()) {
            state.SkipWithError("the program did not show its window");
            return;
        }
        state.SetIterationTime(run.first_output_seconds);
        exit_ms += run.seconds * 1000;
        cpu_ms += run.cpu_ms;
        faults += run.faults;
        peak_kb = std::max(peak_kb, run.peak_kb);
        rows = std::atoi(run.output.c_str());
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu_ms, benchmark::Counter::kAvgIterations);
    state.counters["exit_ms"] = benchmark::Counter(exit_ms, benchmark::Counter::kAvgIterations);
    state.counters["peak_mb"] = peak_kb / 1024;
    state.counters["rows"] = rows;
    state.counters["faults"] = benchmark::Counter(faults, benchmark::Counter::kAvgIterations);
}

void BM_ListCommand(benchmark::State& state) {
    const BenchPrefix* prefix = ColdPrefix(state);
    if (!prefix) return;
    double cpu_ms = 0;
    double peak_kb = 0;
    int lines = -1;
    for (auto _ : state) {
        MeasuredChild listing({SSR_PROGRAM, "--list", prefix->path().string()}, BaseEnvironment(), /*capture=*/true);
        const ChildRun run = listing.Finish();
        if (!run.ok) {
            state.SkipWithError("the program's listing failed");
            return;
        }
        state.SetIterationTime(run.seconds);
        cpu_ms += run.cpu_ms;
        peak_kb = std::max(peak_kb, run.peak_kb);
        lines = static_cast<int>(std::count(run.output.begin(), run.output.end(), '\n'));
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu_ms, benchmark::Counter::kAvgIterations);
    state.counters["peak_mb"] = peak_kb / 1024;
    state.counters["lines"] = lines;
}

// Where the wineserver of `prefix` listens once it is ready.
fs::path ServerSocket(const fs::path& prefix) {
    struct stat info {};
    if (::stat(prefix.c_str(), &info) != 0) return {};
    char folder[128];
    std::snprintf(folder, sizeof folder, "/tmp/.wine-%u/server-%llx-%llx", static_cast<unsigned>(::getuid()),
                  static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
    return fs::path(folder) / "socket";
}

void BM_PeerList(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return;
    }
    double uninstaller_kb = 0;
    double server_kb = 0;
    int rows = -1;
    for (auto _ : state) {
        prefix.Use(static_cast<int>(state.range(0)), /*warm=*/false);
        std::vector<std::string> environment = BaseEnvironment();
        environment.push_back("WINEPREFIX=" + prefix.path().string());
        environment.push_back("WINEDEBUG=-all");
        const fs::path socket = ServerSocket(prefix.path());
        std::error_code ec;
        fs::remove(socket, ec);  // a stale one from an earlier server would pass for ready
        // In the foreground, so that it stays our child and its figures reach us.
        const auto start = std::chrono::steady_clock::now();
        MeasuredChild server({"wineserver", "-f", "-p0"}, environment, /*capture=*/false);
        for (int wait = 0; wait < 500 && !fs::exists(socket, ec); ++wait) ::usleep(10000);
        MeasuredChild uninstaller({"wine", "uninstaller", "--list"}, environment, /*capture=*/true);
        const ChildRun listed = uninstaller.Finish();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Shell(prefix.Env() + "wineserver -k");
        const ChildRun served = server.Finish();
        if (listed.peak_kb == 0 || served.peak_kb == 0) {
            state.SkipWithError("the uninstaller or its server did not run");
            return;
        }
        state.SetIterationTime(seconds);
        uninstaller_kb = std::max(uninstaller_kb, listed.peak_kb);
        server_kb = std::max(server_kb, served.peak_kb);
        rows = static_cast<int>(std::count(listed.output.begin(), listed.output.end(), '\n'));
    }
    prefix.Forget();
    state.counters["uninstaller_mb"] = uninstaller_kb / 1024;
    state.counters["server_mb"] = server_kb / 1024;
    state.counters["peak_mb"] = (uninstaller_kb + server_kb) / 1024;
    state.counters["rows"] = rows;
}

}  // namespace

BENCHMARK(BM_StartToFilledWindow)->Arg(0)->Arg(10000)->Arg(30000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListCommand)->Arg(0)->Arg(30000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
// Seconds an iteration at 30,000 records: a few iterations are enough.
BENCHMARK(BM_PeerList)->Arg(0)->Arg(30000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
