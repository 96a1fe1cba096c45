// Suggest and Remove on a real Wine prefix folder: a generated system.reg
// with 10,000 records, half of whose program files exist in drive_c.
// Suggest must cost one file-system query per entry; Remove rewrites
// system.reg once per click, atomically.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "application/appearance.h"
#include "doubles/recording_skin_engine.h"
#include "application/form1.h"
#include "catalogue/listing.h"
#include "doubles/scripted_desktop.h"
#include "platform/wine/prefix/prefix.h"
#include "platform/wine/wine_registry.h"

namespace {

namespace fs = std::filesystem;
using namespace ssr;

// The Linux desktop's file test, without the widgets: Windows paths are
// looked up in the prefix. Counts the queries.
class PrefixDesktop final : public ScriptedDesktop {
public:
    PrefixDesktop(std::shared_ptr<const wine::Prefix> prefix, Registry& hives)
        : m_prefix(std::move(prefix)), m_environment(wine::PrefixEnvironment::FromHives(hives)) {}
    FileAnswer QueryFileState(TextView path) noexcept override {
        ++queries;
        return m_prefix->WindowsPathState(path);
    }
    std::optional<Text> EnvironmentVariable(TextView name, ProgramView view) override {
        return m_environment.Value(name, view);
    }
    std::size_t queries = 0;

private:
    std::shared_ptr<const wine::Prefix> m_prefix;
    wine::PrefixEnvironment m_environment;
};

// Commands name their program either rooted ("C:\\Program Files\\...") or
// through the prefix's environment ("%ProgramFiles%\\...").
enum class Paths { Rooted, Expandable };

fs::path MakePrefix(int entries, Paths paths = Paths::Rooted) {
    char pattern[] = "/tmp/ssr-bench-prefix.XXXXXX";
    const fs::path prefix = mkdtemp(pattern);
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    std::ofstream reg(prefix / "system.reg", std::ios::binary);
    reg << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n";
    reg << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1796629326\n"
        << "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n\n";
    for (int i = 0; i < entries; ++i) {
        const std::string n = std::to_string(i);
        reg << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Product " << n << "] 1796629326\n"
            << "#time=1dd861e7510944e\n"
            << "\"DisplayName\"=\"Example Product " << n << "\"\n"
            << (paths == Paths::Rooted ? "\"UninstallString\"=\"\\\"C:\\\\Program Files"
                                       : "\"UninstallString\"=str(2):\"\\\"%ProgramFiles%")
            << "\\\\Vendor " << n << "\\\\uninstall.exe\\\" /S\"\n"
            << "\"EstimatedSize\"=dword:00000400\n\n";
        if (i % 2 == 0) {
            const fs::path folder = prefix / "drive_c" / "Program Files" / ("Vendor " + n);
            fs::create_directories(folder);
            std::ofstream(folder / "uninstall.exe") << "x";
        }
    }
    return prefix;
}

void BM_SuggestOnPrefix(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    const fs::path folder = MakePrefix(entries, state.range(1) == 0 ? Paths::Rooted : Paths::Expandable);
    const auto prefix = std::make_shared<const wine::Prefix>(folder);
    WinePrefixRegistry registry(prefix);
    PrefixDesktop desktop(prefix, registry);
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    ListUninstallEntries(registry, form.ListView1(), desktop);
    std::size_t checked = 0;
    for (auto _ : state) {
        desktop.queries = 0;
        form.PushButton3_Click();
    }
    for (int p = 1; p <= form.ListView1().Count(); ++p) checked += form.ListView1().Checked(p) ? 1 : 0;
    state.counters["queries_per_entry"] = static_cast<double>(desktop.queries) / entries;
    state.counters["checked"] = static_cast<double>(checked);
    fs::remove_all(folder);
}
// Second argument: 0 rooted paths, 1 paths through %ProgramFiles%.
BENCHMARK(BM_SuggestOnPrefix)->Args({10000, 0})->Args({10000, 1})->Unit(benchmark::kMillisecond);

// One Remove click with `checked` of `entries` records checked, spread
// evenly. The store writes system.reg once per click: "writes" counts the
// replacements, "MB_written" what they wrote, "MB_file" the file's size after.
void BM_RemoveOnPrefix(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    const int checked = static_cast<int>(state.range(1));
    int writes = 0;
    double written = 0;
    double file = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path folder = MakePrefix(entries);
        const auto prefix = std::make_shared<const wine::Prefix>(folder);
        writes = 0;
        WinePrefixRegistry registry(prefix, [&writes](wine::WriteStep step) {
            writes += step == wine::WriteStep::Rename ? 1 : 0;
            return 0;
        });
        PrefixDesktop desktop(prefix, registry);
        RecordingSkinEngine skin;
        Form1 form(registry, desktop, skin);
        ListUninstallEntries(registry, form.ListView1(), desktop);
        const int step = entries / checked;
        for (int p = 1; p <= entries; p += step) form.ListView1().SetChecked(p, true);
        state.ResumeTiming();
        form.PushButton2_Click();
        state.PauseTiming();
        state.counters["left"] = form.ListView1().Count();
        file = static_cast<double>(fs::file_size(folder / "system.reg")) / 1e6;
        written = file * writes;
        if (!desktop.boxes.empty()) state.SkipWithError("the removal failed");
        fs::remove_all(folder);
        state.ResumeTiming();
    }
    state.counters["writes"] = writes;
    state.counters["MB_written"] = written;
    state.counters["MB_file"] = file;
}
BENCHMARK(BM_RemoveOnPrefix)
    ->Args({10000, 100})
    ->Args({10000, 1000})
    ->Args({30000, 10000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
