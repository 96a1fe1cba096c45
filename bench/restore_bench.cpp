// --restore's work on a fresh `wineboot -i` prefix: a backup of 1,000 and
// 10,000 records (each a key with five values and one subkey), put back
// into system.reg, which is reset to the fresh file before every run.
// Nothing here asserts a time.

#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench_prefix.h"
#include "platform/text.h"
#include "platform/wine/backup_restore.h"

namespace {

using namespace ssr::bench;

// A backup as Remove writes it: UTF-16LE with its byte-order mark, CRLF lines.
std::string Backup(int records) {
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    char section[1024];
    for (int i = 0; i < records; ++i) {
        std::snprintf(section, sizeof section,
                      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{%08X-1C2D-4E5F-8A9B-%012d}]\r\n"
                      "\"DisplayName\"=\"Restored program %d\"\r\n"
                      "\"UninstallString\"=\"\\\"C:\\\\Program Files\\\\Vendor %d\\\\unins000.exe\\\"\"\r\n"
                      "\"Publisher\"=\"Vendor %d\"\r\n\"EstimatedSize\"=dword:00001000\r\n"
                      "\"NoModify\"=hex:01,00,00,00\r\n"
                      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{%08X-1C2D-4E5F-8A9B-%012d}\\Details]\r\n"
                      "\"Channel\"=\"stable\"\r\n",
                      static_cast<unsigned>(i), i, i, i, i, static_cast<unsigned>(i), i);
        text += section;
    }
    const ssr::Text wide = ssr::FromUtf8(text);
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    return bytes;
}

void BM_Restore(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("wineboot made no prefix");
        return;
    }
    prefix.Use(0, false);
    const fs::path backup = prefix.path().parent_path() / "backup.reg";
    WriteAll(backup, Backup(static_cast<int>(state.range(0))));
    const ssr::wine::Prefix wine_prefix(prefix.path());
    for (auto _ : state) {
        state.PauseTiming();
        WriteAll(prefix.path() / "system.reg", prefix.fresh());
        state.ResumeTiming();
        const ssr::wine::RestoreReport report = ssr::wine::RestoreBackup(wine_prefix, backup, {});
        if (!report.written) state.SkipWithError(report.problem.c_str());
        state.counters["records"] = static_cast<double>(report.records.size());
    }
}
BENCHMARK(BM_Restore)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
