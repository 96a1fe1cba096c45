// Runs one program as its child and writes the child's peak resident memory,
// processor time and page faults to a file:
//   measured_run FIGURES_FILE PROGRAM [ARGUMENTS...]
// The figures file gets one line: "peak_kb cpu_ms faults exit_status".
// The child's output and exit status pass through.
//
// The benchmarks start programs through it because a child's peak memory
// counts every page its parent had mapped when the child was made: a
// benchmark holding a 17 MB hive would show as the program's own. This
// process is small, so what its child reports is the child's.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fputs("usage: measured_run FIGURES_FILE PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    const pid_t child = ::fork();
    if (child < 0) return 2;
    if (child == 0) {
        ::execvp(argv[2], argv + 2);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR) return 2;
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (std::FILE* figures = std::fopen(argv[1], "w")) {
        std::fprintf(figures, "%ld %.3f %ld %d\n", usage.ru_maxrss, ms(usage.ru_utime) + ms(usage.ru_stime),
                     usage.ru_minflt + usage.ru_majflt, exit_status);
        std::fclose(figures);
    }
    return exit_status;
}
