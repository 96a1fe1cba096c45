// --restore's work on a fresh `wineboot -i` prefix: a backup of 1,000 and
// 10,000 records (each a key with five values and one subkey), and one
// record holding a 100 MB value (a text, then binary data), put back into
// system.reg, which is reset to the fresh file before every run. Nothing
// here asserts a time.

#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench_prefix.h"
#include "platform/text.h"
#include "platform/wine/backups/backups.h"
#include "platform/wine/wine_registry.h"

namespace {

using namespace ssr::bench;

// A backup as Remove writes it: UTF-16LE with its byte-order mark, CRLF lines.
std::string Utf16(const std::string& text) {
    const ssr::Text wide = ssr::FromUtf8(text);
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    return bytes;
}

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
    return Utf16(text);
}

// One record with a value of 100 MB: a text of 50 million characters, or
// binary data as Remove writes it (hex, 25 bytes a line, continued).
std::string LargeValueBackup(bool binary) {
    constexpr std::size_t kBytes = 100'000'000;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Large]\r\n"
                       "\"DisplayName\"=\"Large\"\r\n";
    if (!binary) {
        text += "\"Blob\"=\"" + std::string(kBytes / 2, 'x') + "\"\r\n";
        return Utf16(text);
    }
    text.reserve(text.size() + kBytes * 3 + kBytes / 25 * 5);
    text += "\"Blob\"=hex:";
    for (std::size_t i = 0; i < kBytes; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        const auto byte = static_cast<unsigned char>(i * 7);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
        if (i + 1 < kBytes) text += (i % 25 == 24) ? ",\\\r\n  " : ",";
    }
    text += "\r\n";
    return Utf16(text);
}

void RunRestore(benchmark::State& state, const std::string& backup_bytes) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("wineboot made no prefix");
        return;
    }
    prefix.Use(0, false);
    const fs::path backup = prefix.path().parent_path() / "backup.reg";
    WriteAll(backup, backup_bytes);
    const auto wine_prefix = std::make_shared<const ssr::wine::Prefix>(prefix.path());
    for (auto _ : state) {
        state.PauseTiming();
        WriteAll(prefix.path() / "system.reg", prefix.fresh());
        state.ResumeTiming();
        ssr::WinePrefixRegistry registry(wine_prefix);
        const ssr::wine::RestoreReport report =
            ssr::wine::RestoreBackup(registry, backup, ssr::wine::RestoreReplace::No, ssr::wine::RestoreMode::Write);
        if (!report.written) state.SkipWithError("the backup was not restored");
        state.counters["records"] = static_cast<double>(report.records.size());
    }
}

void BM_Restore(benchmark::State& state) { RunRestore(state, Backup(static_cast<int>(state.range(0)))); }
void BM_RestoreLargeValue(benchmark::State& state) { RunRestore(state, LargeValueBackup(state.range(0) != 0)); }
BENCHMARK(BM_Restore)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);
// 0: a text, 1: binary data.
BENCHMARK(BM_RestoreLargeValue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
