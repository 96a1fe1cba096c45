// The prefix chooser on a home with 5, 300 and 1,000 Steam games' prefixes,
// each a copy of one fresh `wineboot -i` prefix with 30 records (hard links,
// so that 1,000 of them do not fill the disk; every copy is still read and
// counted on its own). Qt offscreen; one iteration each:
//   shown_ms    from looking for the prefixes to the first paint of the window
//   counted_ms  from there until every row shows its count
// Nothing here asserts a time.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>
#include <chrono>

#include "bench_prefix.h"
#include "prefix_chooser.h"

namespace {

using namespace ssr::bench;
using Clock = std::chrono::steady_clock;

// A home with `count` Proton prefixes in one Steam library.
class SteamHome {
public:
    explicit SteamHome(int count) {
        BenchPrefix& fresh = BenchPrefix::Get();
        m_home = fresh.path().parent_path() / ("home-" + std::to_string(count));
        const fs::path model = fresh.path().parent_path() / "model";
        fs::create_directories(model);
        WriteAll(model / "system.reg", HiveWith(fresh.fresh(), 30));
        WriteAll(model / "user.reg", ReadAll(fresh.path() / "user.reg"));
        const fs::path steamapps = m_home / ".local/share/Steam/steamapps";
        for (int i = 0; i < count; ++i) {
            const std::string id = std::to_string(100000 + i);
            const fs::path pfx = steamapps / "compatdata" / id / "pfx";
            fs::create_directories(pfx);
            for (const char* file : {"system.reg", "user.reg"}) fs::create_hard_link(model / file, pfx / file);
            WriteAll(steamapps / ("appmanifest_" + id + ".acf"), "\"AppState\"\n{\n\t\"name\"\t\"Game " + id + "\"\n}\n");
        }
    }
    ~SteamHome() {
        std::error_code ec;
        fs::remove_all(m_home, ec);
    }
    [[nodiscard]] const fs::path& path() const { return m_home; }

private:
    fs::path m_home;
};

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_Chooser(benchmark::State& state) {
    if (!BenchPrefix::Get().ok()) {
        state.SkipWithError("wineboot made no prefix");
        return;
    }
    const SteamHome home(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        ssr::PrefixChooser chooser({}, ssr::wine::DiscoverPrefixes(home.path()), home.path());
        chooser.show();
        chooser.repaint();
        state.counters["shown_ms"] = MillisecondsSince(start);
        const Clock::time_point shown = Clock::now();
        while (!chooser.Counted()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.counters["counted_ms"] = MillisecondsSince(shown);
        state.counters["rows"] = chooser.List()->topLevelItemCount();
    }
}
BENCHMARK(BM_Chooser)->Arg(5)->Arg(300)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
