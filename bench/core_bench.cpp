// The listing and the two list-wide operations on the in-memory store, to
// show that their cost grows linearly with the number of entries; and the
// product icon drawn against read back from the file the program carries.

#include <benchmark/benchmark.h>

#include "application/appearance.h"
#include "doubles/recording_skin_engine.h"
#include "application/form1.h"
#include "application/product_icon.h"
#include "catalogue/listing.h"
#include "platform/entry_list.h"
#include "doubles/memory_registry.h"
#include "doubles/scripted_desktop.h"

namespace {

using namespace ssr;

Text KeyName(int i) { return u"{" + DecimalText(100000 + i) + u"-Example-Product}"; }
Text TargetOf(int i) { return u"c:\\program files\\vendor " + DecimalText(i) + u"\\uninstall.exe"; }

void Populate(MemoryRegistry& registry, int entries) {
    for (int i = 0; i < entries; ++i) {
        const Text key = Text(kUninstallKeyPath) + u"\\" + KeyName(i);
        registry.SetText(key, u"DisplayName", u"Example Product " + DecimalText(i));
        registry.SetText(key, u"UninstallString", u"\"C:\\Program Files\\Vendor " + DecimalText(i) + u"\\uninstall.exe\" /S");
        registry.SetText(key, u"DisplayVersion", u"1.0." + DecimalText(i));
        registry.SetDword(key, u"EstimatedSize", 1024);
    }
}

void BM_ListUninstallEntries(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    MemoryRegistry registry;
    Populate(registry, entries);
    ScriptedDesktop desktop;
    for (auto _ : state) {
        EntryList list;
        ListUninstallEntries(registry, list, desktop);
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetComplexityN(entries);
    state.SetItemsProcessed(state.iterations() * entries);
}
BENCHMARK(BM_ListUninstallEntries)->Arg(1000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// Suggest over a listed store in which every other program file exists.
void BM_Suggest(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    MemoryRegistry registry;
    Populate(registry, entries);
    ScriptedDesktop desktop;
    for (int i = 0; i < entries; i += 2) desktop.existing_paths.insert(TargetOf(i));
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    ListUninstallEntries(registry, form.ListView1(), desktop);
    std::size_t queries = 0;
    for (auto _ : state) {
        desktop.queried_paths.clear();
        form.PushButton3_Click();
        queries = desktop.queried_paths.size();
    }
    state.counters["queries_per_entry"] = static_cast<double>(queries) / entries;
    state.SetComplexityN(entries);
}
BENCHMARK(BM_Suggest)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// Remove of `checked` entries out of 10,000 listed ones.
void BM_RemoveChecked(benchmark::State& state) {
    const int checked = static_cast<int>(state.range(0));
    constexpr int kEntries = 10000;
    for (auto _ : state) {
        state.PauseTiming();
        MemoryRegistry registry;
        Populate(registry, kEntries);
        ScriptedDesktop desktop;
        RecordingSkinEngine skin;
        Form1 form(registry, desktop, skin);
        ListUninstallEntries(registry, form.ListView1(), desktop);
        for (int p = 1; p <= kEntries; p += kEntries / checked) form.ListView1().SetChecked(p, true);
        state.ResumeTiming();
        form.PushButton2_Click();
        benchmark::DoNotOptimize(form.ListView1().Count());
    }
}
BENCHMARK(BM_RemoveChecked)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(5);

// The product icon's four images: drawn, as the artwork tool does, against
// read from the embedded file, as the start-up does.
void BM_DrawProductIcon(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(DrawProductIcon());
}
BENCHMARK(BM_DrawProductIcon)->Unit(benchmark::kMillisecond);

void BM_ReadEmbeddedProductIcon(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ReadIconFile(ProductIconFile()));
}
BENCHMARK(BM_ReadEmbeddedProductIcon)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
