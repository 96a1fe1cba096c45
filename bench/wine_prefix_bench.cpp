// The Wine prefix store side by side with Wine itself, on one real prefix
// whose system.reg gets 1,000, 10,000 and 30,000 uninstall entries:
//   Listing      the core's listing over the store, from opening the file on
//   RawRead      reading the same bytes and nothing else
//   Uninstaller  `wine uninstaller --list`, with a warm `wineserver -p`
//   RegQuery     `wine reg query <uninstall key> /s`, same server
// and the cost of deleting 100 entries from a 10 MB hive.
//
// The prefix lives under $SSR_TEST_RUN_DIR when set (else a fresh temporary
// folder) and its wineserver is stopped at the end.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "catalogue/listing.h"
#include "platform/entry_list.h"
#include "platform/testing/scripted_desktop.h"
#include "platform/wine/wine_registry.h"

namespace {

namespace fs = std::filesystem;
using namespace ssr;

const std::string kUninstallSection = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall]";

std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return output;
    char buffer[65536];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    ::pclose(pipe);
    return output;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The sections of `count` entries that look like what installers leave.
std::string Entries(int count) {
    std::string out;
    char section[2048];
    for (int i = 0; i < count; ++i) {
        std::snprintf(section, sizeof section,
                      "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\{%08X-1C2D-4E5F-8A9B-%012d}] 1796629589\n"
                      "#time=1dd861f1234fad0\n"
                      "\"DisplayIcon\"=\"C:\\\\Program Files\\\\Vendor %d\\\\Product\\\\app.exe,0\"\n"
                      "\"DisplayName\"=\"Example Product %d\"\n"
                      "\"DisplayVersion\"=\"1.2.%d\"\n"
                      "\"EstimatedSize\"=dword:00001000\n"
                      "\"InstallLocation\"=\"C:\\\\Program Files\\\\Vendor %d\\\\Product\\\\\"\n"
                      "\"NoModify\"=dword:00000001\n"
                      "\"Publisher\"=\"Vendor %d\"\n"
                      "\"UninstallString\"=\"\\\"C:\\\\Program Files\\\\Vendor %d\\\\Product\\\\unins000.exe\\\"\"\n",
                      static_cast<unsigned>(i), i, i, i, i, i, i, i);
        out += section;
    }
    return out;
}

// A fresh prefix's file with `count` entries where Wine would keep them, in place of the empty uninstall key.
std::string HiveWith(const std::string& fresh, int count) {
    const std::size_t at = fresh.find("\n" + kUninstallSection);
    if (at == std::string::npos) return fresh;
    const std::size_t end = fresh.find("\n[", at + 1);
    return fresh.substr(0, at) + Entries(count) + fresh.substr(end);
}

class BenchPrefix {
public:
    static BenchPrefix& Get() {
        static BenchPrefix prefix;
        return prefix;
    }
    ~BenchPrefix() {
        Shell(Env() + "wineserver -k");
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }
    [[nodiscard]] const fs::path& path() const { return m_prefix; }
    [[nodiscard]] bool ok() const { return !m_fresh.empty(); }
    [[nodiscard]] std::string Env() const { return "WINEDEBUG=-all WINEPREFIX='" + m_prefix.string() + "' "; }
    [[nodiscard]] const std::string& fresh() const { return m_fresh; }

    // Puts `count` entries into system.reg and leaves a warm wineserver on it.
    void Use(int count) {
        if (count == m_count) return;
        Shell(Env() + "wineserver -k; " + Env() + "wineserver -w");
        WriteAll(m_prefix / "system.reg", HiveWith(m_fresh, count));
        Shell(Env() + "wineserver -p; " + Env() + "wine uninstaller --list >/dev/null");
        m_count = count;
    }

private:
    BenchPrefix() {
        const char* run = std::getenv("SSR_TEST_RUN_DIR");
        std::string pattern = (fs::path(run && *run ? run : "/tmp") / "ssr-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return;
        m_folder = pattern;
        m_prefix = m_folder / "prefix";
        fs::create_directory(m_prefix);
        Shell(Env() + "wineboot -i >/dev/null 2>&1; " + Env() + "wineserver -w");
        m_fresh = ReadAll(m_prefix / "system.reg");
    }

    fs::path m_folder;
    fs::path m_prefix;
    std::string m_fresh;
    int m_count = -1;
};

bool Ready(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return false;
    }
    prefix.Use(static_cast<int>(state.range(0)));
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
    state.counters["MB"] = static_cast<double>(fs::file_size(BenchPrefix::Get().path() / "system.reg")) / 1e6;
}

// The store's own share of the listing: what the listing asks of it, without
// the core's steps and list around it.
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
            const Text path = Text(kUninstallKeyPath) + u"\\" + Text(name, length);
            for (const TextView value : {TextView(u"DisplayName"), TextView(u"UninstallString")}) {
                RegHandle key = 0;
                static_cast<void>(registry.open_key(kHkeyLocalMachine, path, &key));
                std::uint32_t type = 0;
                std::uint32_t size = 0;
                static_cast<void>(registry.query_value_ex(key, value, &type, nullptr, &size));
                size = std::min<std::uint32_t>(size, sizeof data);
                static_cast<void>(registry.query_value_ex(key, value, &type, data, &size));
                bytes += size;
                static_cast<void>(registry.close_key(key));
            }
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

// 100 deletions, each a full atomic rewrite of a 10 MB system.reg.
void BM_Delete100From10MB(benchmark::State& state) {
    BenchPrefix& prefix = BenchPrefix::Get();
    if (!prefix.ok()) {
        state.SkipWithError("no Wine prefix could be made");
        return;
    }
    const fs::path folder = prefix.path().parent_path() / "delete";
    fs::create_directories(folder);
    int count = 0;
    std::string hive = HiveWith(prefix.fresh(), count);
    while (hive.size() < 10'000'000) hive = HiveWith(prefix.fresh(), count += 2000);
    for (auto _ : state) {
        state.PauseTiming();
        WriteAll(folder / "system.reg", hive);
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(folder));
        RegHandle key = 0;
        static_cast<void>(registry.open_key_ex(kHkeyLocalMachine, kUninstallKeyPath, 0, kKeyEnumerateSubKeys, &key));
        state.ResumeTiming();
        for (int i = 0; i < 100; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "{%08X-1C2D-4E5F-8A9B-%012d}", static_cast<unsigned>(i * 97), i * 97);
            const Text path = Text(kUninstallKeyPath) + u"\\" + FromUtf8(name);
            if (registry.delete_tree(kHkeyLocalMachine, path) != kErrorSuccess) state.SkipWithError("deletion failed");
        }
    }
    state.counters["MB"] = static_cast<double>(hive.size()) / 1e6;
    state.counters["entries"] = count;
}

void Register() {
    for (const int entries : {1000, 10000, 30000}) {
        benchmark::RegisterBenchmark("Listing", BM_Listing)->Arg(entries)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("StoreOnly", BM_StoreOnly)->Arg(entries)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("RawRead", BM_RawRead)->Arg(entries)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Uninstaller", BM_Uninstaller)->Arg(entries)->Unit(benchmark::kMillisecond)->Iterations(3);
        benchmark::RegisterBenchmark("RegQuery", BM_RegQuery)->Arg(entries)->Unit(benchmark::kMillisecond)->Iterations(1);
    }
    benchmark::RegisterBenchmark("Delete100From10MB", BM_Delete100From10MB)->Unit(benchmark::kMillisecond)->Iterations(2);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
