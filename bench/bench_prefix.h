#pragma once
// One real Wine prefix for the benchmarks, made once per benchmark program by
// `wineboot -i`, whose system.reg then gets as many uninstall entries as a
// benchmark asks for. It lives under $SSR_TEST_RUN_DIR when set (else a fresh
// temporary folder) and its wineserver is stopped at the end.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace ssr::bench {

namespace fs = std::filesystem;

inline const std::string kUninstallSection = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall]";

inline std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return output;
    char buffer[65536];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    ::pclose(pipe);
    return output;
}

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The sections of `count` entries that look like what installers leave.
inline std::string Entries(int count) {
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
inline std::string HiveWith(const std::string& fresh, int count) {
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

    // Puts `count` entries into system.reg; `warm` leaves a wineserver on it
    // that has already read them, else no server runs on the prefix.
    void Use(int count, bool warm = true) {
        if (count == m_count && warm == m_warm) return;
        Shell(Env() + "wineserver -k; " + Env() + "wineserver -w");
        WriteAll(m_prefix / "system.reg", HiveWith(m_fresh, count));
        if (warm) Shell(Env() + "wineserver -p; " + Env() + "wine uninstaller --list >/dev/null");
        m_count = count;
        m_warm = warm;
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
    bool m_warm = false;
};

}  // namespace ssr::bench
