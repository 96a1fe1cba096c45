// The command line's work in-process, on generated prefix folders whose
// records' programs exist for every other record: --list at 3,000 and 30,000
// records beside what the window does at its start plus a Suggest click (the
// listing and Suggest with the window's desktop), and --remove naming 1, 100
// and 6,000 keys beside --remove-stale of the same 6,000 records. Nothing
// here asserts a time.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "command_line.h"
#include "console_actions.h"
#include "doubles/recording_skin_engine.h"
#include "platform/qt/qt_desktop.h"
#include "platform/wine/prefix/prefix.h"
#include "platform/wine/wine_registry.h"

namespace {

namespace fs = std::filesystem;
using namespace ssr;

// `entries` records "Product <n>" below the 64-bit Uninstall key; the
// program of every even one exists in drive_c.
fs::path MakePrefix(int entries) {
    const char* run = std::getenv("SSR_TEST_RUN_DIR");
    std::string pattern = (fs::path(run && *run ? run : "/tmp") / "ssr-cli-bench.XXXXXX").string();
    const fs::path prefix = ::mkdtemp(pattern.data());
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    std::ofstream reg(prefix / "system.reg", std::ios::binary);
    reg << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n";
    for (int i = 0; i < entries; ++i) {
        const std::string n = std::to_string(i);
        reg << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Product " << n << "] 1796629326\n"
            << "#time=1dd861e7510944e\n\"DisplayName\"=\"Example Product " << n << "\"\n"
            << "\"UninstallString\"=\"\\\"C:\\\\Program Files\\\\Vendor " << n << "\\\\uninstall.exe\\\" /S\"\n\n";
        if (i % 2 == 0) {
            const fs::path folder = prefix / "drive_c" / "Program Files" / ("Vendor " + n);
            fs::create_directories(folder);
            std::ofstream(folder / "uninstall.exe") << "x";
        }
    }
    return prefix;
}

int Run(std::vector<std::string> arguments) {
    std::ostringstream out;
    std::ostringstream err;
    const CommandLineOptions options = ParseCommandLine(arguments);
    return RunConsoleAction(options, "/nonexistent", nullptr, out, err);
}

void BM_List(benchmark::State& state) {
    const fs::path prefix = MakePrefix(static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (Run({prefix.string(), "--list"}) != 0) state.SkipWithError("--list failed");
    fs::remove_all(prefix);
}
BENCHMARK(BM_List)->Arg(3000)->Arg(30000)->Unit(benchmark::kMillisecond);

// What the window does before its first paint and at a Suggest click.
void BM_WindowListingAndSuggest(benchmark::State& state) {
    const fs::path folder = MakePrefix(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const auto prefix = std::make_shared<const wine::Prefix>(folder);
        WinePrefixRegistry registry(prefix);
        QtDesktop desktop(prefix);
        desktop.UseEnvironmentOf(registry);
        RecordingSkinEngine skin;
        Form1 form(registry, desktop, skin);
        ListUninstallEntries(registry, form.ListView1(), desktop);
        form.PushButton3_Click();
        benchmark::DoNotOptimize(form.ListView1().Count());
    }
    fs::remove_all(folder);
}
BENCHMARK(BM_WindowListingAndSuggest)->Arg(3000)->Arg(30000)->Unit(benchmark::kMillisecond);

// --remove naming `keys` of 6,000 records, spread evenly; 0 stands for
// --remove-stale, which removes the 3,000 whose programs are gone.
void BM_Remove(benchmark::State& state) {
    constexpr int kEntries = 6000;
    const int keys = static_cast<int>(state.range(0));
    const fs::path original = MakePrefix(kEntries);
    const std::string hive = [&] {
        std::ifstream in(original / "system.reg", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }();
    std::vector<std::string> arguments{original.string()};
    if (keys == 0) {
        arguments.emplace_back("--remove-stale");
    } else {
        arguments.emplace_back("--remove");
        for (int i = 0; i < keys; ++i) arguments.push_back("Product " + std::to_string(i * (kEntries / keys)));
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(original / "system.reg", std::ios::binary | std::ios::trunc) << hive;
        fs::remove_all(original / "drive_c" / "users");
        state.ResumeTiming();
        if (Run(arguments) != 0) state.SkipWithError("the removal failed");
    }
    fs::remove_all(original);
}
BENCHMARK(BM_Remove)->Arg(1)->Arg(100)->Arg(6000)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
