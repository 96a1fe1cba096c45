// The Wine prefix store side by side with Wine itself, on one real prefix
// whose system.reg gets 1,000, 10,000 and 30,000 uninstall entries:
//   Listing      the core's listing over the store, from opening the file on
//   RawRead      reading the same bytes and nothing else
//   Uninstaller  `wine uninstaller --list`, with a warm `wineserver -p`
//   RegQuery     `wine reg query <uninstall key> /s`, same server
// then 30,000 records spread over the three places (a third each in the
// 64-bit view, the 32-bit view and user.reg), listed by the core and by
// `wine uninstaller --list`, and the cost of deleting 100 entries from a
// 10 MB hive: the store's share alone, a whole Remove click (backup file,
// deletions, durable write) with no server, and the 64-bit `regedit`
// importing the same deletions into a warm wineserver that has that hive.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "application/form1.h"
#include "bench_prefix.h"
#include "catalogue/listing.h"
#include "doubles/recording_skin_engine.h"
#include "platform/wine/backups/backups.h"
#include "platform/entry_list.h"
#include "doubles/scripted_desktop.h"
#include "platform/wine/wine_registry.h"

namespace {

namespace fs = std::filesystem;
using namespace ssr;
using namespace ssr::bench;

// range(1), when given and not 0: the entries are spread over the three places.
bool Ready(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return false;
    }
    prefix.Use(static_cast<int>(state.range(0)), true, state.range(1) != 0);
    return true;
}

void BM_Listing(benchmark::State& state) {
    if (!Ready(state)) return;
    ScriptedDesktop desktop;
    int rows = 0;
    for (auto _ : state) {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(BenchPrefix::Get().path()));
        EntryList list;
        ListUninstallEntries(registry, list, desktop);
        rows = list.Count();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = rows;
    state.counters["us_per_row"] = benchmark::Counter(rows, benchmark::Counter::kIsIterationInvariantRate |
                                                                benchmark::Counter::kInvert);
    state.counters["MB"] = static_cast<double>(fs::file_size(BenchPrefix::Get().path() / "system.reg") +
                                               fs::file_size(BenchPrefix::Get().path() / "user.reg")) / 1e6;
}

// The store's own share of the listing: what the listing asks of it, without
// the core's steps and list around it. Like the listing, each entry's key is
// opened once below the open uninstall key, and each text is read in one
// call into a buffer large enough for it.
void BM_StoreOnly(benchmark::State& state) {
    if (!Ready(state)) return;
    std::size_t bytes = 0;
    for (auto _ : state) {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(BenchPrefix::Get().path()));
        RegHandle uninstall = 0;
        if (registry.open_key_ex(kHkeyLocalMachine, kUninstallKeyPath, 0, kKeyEnumerateSubKeys, &uninstall) != 0) break;
        char16_t name[256];
        std::uint8_t data[4096];
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t length = 255;
            if (registry.enum_key_ex(uninstall, i, name, &length, nullptr, nullptr) != kErrorSuccess) break;
            RegHandle key = 0;
            static_cast<void>(registry.open_key(uninstall, TextView(name, length), &key));
            for (const TextView value : {TextView(u"DisplayName"), TextView(u"UninstallString")}) {
                std::uint32_t type = 0;
                std::uint32_t size = sizeof data;
                static_cast<void>(registry.query_value_ex(key, value, &type, data, &size));
                bytes += size;
            }
            static_cast<void>(registry.close_key(key));
        }
        static_cast<void>(registry.close_key(uninstall));
    }
    benchmark::DoNotOptimize(bytes);
}

void BM_RawRead(benchmark::State& state) {
    if (!Ready(state)) return;
    const fs::path file = BenchPrefix::Get().path() / "system.reg";
    std::string buffer;
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        buffer.resize(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
        ::lseek(fd, 0, SEEK_SET);
        std::size_t got = 0;
        while (got < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_Uninstaller(benchmark::State& state) {
    if (!Ready(state)) return;
    std::size_t lines = 0;
    for (auto _ : state) {
        const std::string out = Shell(BenchPrefix::Get().Env() + "wine uninstaller --list");
        lines = static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
    }
    state.counters["rows"] = static_cast<double>(lines);
}

void BM_RegQuery(benchmark::State& state) {
    if (!Ready(state)) return;
    std::size_t lines = 0;
    for (auto _ : state) {
        const std::string out = Shell(BenchPrefix::Get().Env() +
                                      "wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall' /s /reg:64");
        lines = static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
    }
    state.counters["lines"] = static_cast<double>(lines);
}

// The 10 MB system.reg of the deletion benchmarks, and how many entries it holds.
const std::string& TenMegabyteHive(int& count) {
    static int entries = 0;
    static const std::string hive = [] {
        std::string bytes = HiveWith(BenchPrefix::Get().fresh(), entries);
        while (bytes.size() < 10'000'000) bytes = HiveWith(BenchPrefix::Get().fresh(), entries += 2000);
        return bytes;
    }();
    count = entries;
    return hive;
}

// The key names of the 100 entries the deletion benchmarks remove, spread over the hive.
std::vector<std::string> HundredKeyNames() {
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "{%08X-1C2D-4E5F-8A9B-%012d}", static_cast<unsigned>(i * 97), i * 97);
        names.emplace_back(name);
    }
    return names;
}

// 100 deletions from a 10 MB system.reg, as one Remove click makes them:
// staged, then one atomic rewrite.
void BM_Delete100From10MB(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return;
    }
    const fs::path folder = prefix.path().parent_path() / "delete";
    fs::create_directories(folder);
    int count = 0;
    const std::string& hive = TenMegabyteHive(count);
    const std::vector<std::string> names = HundredKeyNames();
    for (auto _ : state) {
        state.PauseTiming();
        WriteAll(folder / "system.reg", hive);
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(folder));
        RegHandle key = 0;
        static_cast<void>(registry.open_key_ex(kHkeyLocalMachine, kUninstallKeyPath, 0, kKeyEnumerateSubKeys, &key));
        state.ResumeTiming();
        for (const std::string& name : names) {
            const Text path = Text(kUninstallKeyPath) + u"\\" + FromUtf8(name);
            if (registry.delete_tree(kHkeyLocalMachine, path) != kErrorSuccess) state.SkipWithError("deletion failed");
        }
        if (!registry.commit().ok()) state.SkipWithError("the write failed");
    }
    state.counters["MB"] = static_cast<double>(hive.size()) / 1e6;
    state.counters["entries"] = count;
}

// The Linux desktop's backup, without the widgets: a new file in the
// prefix user's local application data, flushed to disk.
class BackupDesktop final : public ScriptedDesktop {
public:
    explicit BackupDesktop(std::shared_ptr<const wine::Prefix> prefix) : m_prefix(std::move(prefix)) {}
    [[nodiscard]] SavedBackup SaveBackup(std::span<const std::uint8_t> bytes) override {
        const wine::NewFile written = wine::WriteNewFile(
            wine::LocalAppDataFolder(*m_prefix) / "Backups", [](int attempt) { return "backup-" + std::to_string(attempt) + ".reg"; },
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return SavedBackup{written.error == 0, FromUtf8(written.path.string()), {}};
    }

private:
    std::shared_ptr<const wine::Prefix> m_prefix;
};

// One Remove click with 100 of the 10 MB hive's entries checked: the backup
// file, the deletions and the durable write, on a prefix no server runs on
// (the program refuses to write under one). "user_reg_written" says whether
// the click, which touches only system.reg, replaced user.reg too.
void BM_RemoveClick100From10MB(benchmark::State& state) {
    BenchPrefix& bench = BenchPrefix::Get();
    if (!bench.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return;
    }
    int count = 0;
    const std::string& hive = TenMegabyteHive(count);
    const fs::path folder = bench.path().parent_path() / "remove";
    fs::create_directories(folder / "drive_c");
    fs::create_directories(folder / "dosdevices");
    std::error_code ec;
    fs::create_directory_symlink("../drive_c", folder / "dosdevices" / "c:", ec);
    const std::vector<std::string> names = HundredKeyNames();
    double user_written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        WriteAll(folder / "system.reg", hive);
        WriteAll(folder / "user.reg", ReadAll(bench.path() / "user.reg"));
        const auto user_before = wine::IdentityOf(folder / "user.reg");
        const auto prefix = std::make_shared<const wine::Prefix>(folder);
        WinePrefixRegistry registry(prefix);
        BackupDesktop desktop(prefix);
        RecordingSkinEngine skin;
        Form1 form(registry, desktop, skin);
        ListUninstallEntries(registry, form.ListView1(), desktop);
        for (int row = 1; row <= form.ListView1().Count(); ++row)
            for (const std::string& name : names)
                if (form.ListView1().SubItem(row, 3) == FromUtf8(name)) form.ListView1().SetChecked(row, true);
        state.ResumeTiming();
        form.PushButton2_Click();
        state.PauseTiming();
        if (!desktop.boxes.empty() || form.ListView1().Count() != count - 100) state.SkipWithError("the removal failed");
        user_written = wine::IdentityOf(folder / "user.reg") == user_before ? 0 : 1;
        state.ResumeTiming();
    }
    state.counters["MB"] = static_cast<double>(hive.size()) / 1e6;
    state.counters["user_reg_written"] = user_written;
}

// The same 100 deletions as a .reg file that the 64-bit `regedit` imports
// into a warm wineserver that has read the 10 MB hive. The server writes
// the change to disk later, on its own; that is not in the time.
void BM_Regedit64Delete100From10MB(benchmark::State& state) {
    BenchPrefix& bench = BenchPrefix::Get();
    const char* wine64 = nullptr;
    for (const char* path : {"/usr/lib/wine/wine64", "/usr/lib64/wine/wine64"})
        if (fs::exists(path)) wine64 = path;
    if (!bench.ok() || !wine64) {
        state.SkipWithError("no Wine prefix could be made, or no 64-bit Wine");
        return;
    }
    int count = 0;
    const std::string& hive = TenMegabyteHive(count);
    const fs::path deletions = bench.path() / "drive_c" / "deletions.reg";
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const std::string& name : HundredKeyNames())
        text += "[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name + "]\r\n\r\n";
    WriteAll(deletions, text);
    const std::string probe = std::string(wine64) + " reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                              HundredKeyNames().back() + "' >/dev/null";
    std::size_t left = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Shell(bench.Env() + "wineserver -k; " + bench.Env() + "wineserver -w");
        WriteAll(bench.path() / "system.reg", hive);
        Shell(bench.Env() + "wineserver -p; " + bench.Env() + probe);
        state.ResumeTiming();
        Shell(bench.Env() + wine64 + " regedit /S 'C:\\deletions.reg'");
        state.PauseTiming();
        left = Shell(bench.Env() + probe + " && echo left").size();
        state.ResumeTiming();
    }
    if (left != 0) state.SkipWithError("regedit left the keys");
    // The shared prefix no longer holds what BenchPrefix::Use put there.
    Shell(bench.Env() + "wineserver -k; " + bench.Env() + "wineserver -w");
    bench.Forget();
    state.counters["MB"] = static_cast<double>(hive.size()) / 1e6;
}

void Register() {
    for (const int entries : {1000, 10000, 30000}) {
        benchmark::RegisterBenchmark("Listing", BM_Listing)->Args({entries, 0})->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("StoreOnly", BM_StoreOnly)->Args({entries, 0})->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("RawRead", BM_RawRead)->Args({entries, 0})->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Uninstaller", BM_Uninstaller)->Args({entries, 0})->Unit(benchmark::kMillisecond)->Iterations(3);
        benchmark::RegisterBenchmark("RegQuery", BM_RegQuery)->Args({entries, 0})->Unit(benchmark::kMillisecond)->Iterations(1);
    }
    // 30,000 records, a third in each place: the 64-bit view, the 32-bit view, the current user.
    benchmark::RegisterBenchmark("ListingThreePlaces", BM_Listing)->Args({30000, 1})->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("UninstallerThreePlaces", BM_Uninstaller)->Args({30000, 1})->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("Delete100From10MB", BM_Delete100From10MB)->Unit(benchmark::kMillisecond)->Iterations(2);
    benchmark::RegisterBenchmark("RemoveClick100From10MB", BM_RemoveClick100From10MB)->Unit(benchmark::kMillisecond)->Iterations(5);
    benchmark::RegisterBenchmark("Regedit64Delete100From10MB", BM_Regedit64Delete100From10MB)->Unit(benchmark::kMillisecond)->Iterations(3);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
