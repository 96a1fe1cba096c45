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

inline const std::string kUninstallPath = "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
inline const std::string kUninstallPath32 = "Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";

// The sections of `count` entries that look like what installers leave,
// numbered from `first`, below `uninstall` (a section path as the file writes it).
inline std::string Entries(int count, const std::string& uninstall = kUninstallPath, int first = 0) {
    std::string out;
    char section[2048];
    for (int i = first; i < first + count; ++i) {
        std::snprintf(section, sizeof section,
                      "\n[%s\\\\{%08X-1C2D-4E5F-8A9B-%012d}] 1796629589\n"
                      "#time=1dd861f1234fad0\n"
                      "\"DisplayIcon\"=\"C:\\\\Program Files\\\\Vendor %d\\\\Product\\\\app.exe,0\"\n"
                      "\"DisplayName\"=\"Example Product %d\"\n"
                      "\"DisplayVersion\"=\"1.2.%d\"\n"
                      "\"EstimatedSize\"=dword:00001000\n"
                      "\"InstallLocation\"=\"C:\\\\Program Files\\\\Vendor %d\\\\Product\\\\\"\n"
                      "\"NoModify\"=dword:00000001\n"
                      "\"Publisher\"=\"Vendor %d\"\n"
                      "\"UninstallString\"=\"\\\"C:\\\\Program Files\\\\Vendor %d\\\\Product\\\\unins000.exe\\\"\"\n",
                      uninstall.c_str(), static_cast<unsigned>(i), i, i, i, i, i, i, i);
        out += section;
    }
    return out;
}

// `file` with `entries` in place of its empty section `uninstall`, or added
// at the end when it has none.
inline std::string WithEntries(const std::string& file, const std::string& uninstall, const std::string& entries) {
    const std::size_t at = file.find("\n[" + uninstall + "]");
    if (at == std::string::npos) return file + entries;
    const std::size_t end = file.find("\n[", at + 1);
    return file.substr(0, at) + entries + (end == std::string::npos ? "" : file.substr(end));
}

// A fresh prefix's file with `count` entries where Wine would keep them, in place of the empty uninstall key.
inline std::string HiveWith(const std::string& fresh, int count) {
    return WithEntries(fresh, kUninstallPath, Entries(count));
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

    // Puts `count` entries into the 64-bit view of system.reg, or with
    // `spread` a third each into the 64-bit view, the 32-bit view and
    // user.reg; `warm` leaves a wineserver on it that has already read them,
    // else no server runs on the prefix.
    void Use(int count, bool warm = true, bool spread = false) {
        if (count == m_count && warm == m_warm && spread == m_spread) return;
        Shell(Env() + "wineserver -k; " + Env() + "wineserver -w");
        if (spread) {
            const int third = count / 3;
            std::string system = WithEntries(m_fresh, kUninstallPath, Entries(count - 2 * third));
            system = WithEntries(system, kUninstallPath32, Entries(third, kUninstallPath32, count));
            WriteAll(m_prefix / "system.reg", system);
            WriteAll(m_prefix / "user.reg", WithEntries(m_fresh_user, kUninstallPath, Entries(third, kUninstallPath, 2 * count)));
        } else {
            WriteAll(m_prefix / "system.reg", HiveWith(m_fresh, count));
            WriteAll(m_prefix / "user.reg", m_fresh_user);
        }
        if (warm) Shell(Env() + "wineserver -p; " + Env() + "wine uninstaller --list >/dev/null");
        m_count = count;
        m_warm = warm;
        m_spread = spread;
    }

    // Someone changed the prefix's files behind Use's back: the next Use writes them again.
    void Forget() { m_count = -1; }

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
        m_fresh_user = ReadAll(m_prefix / "user.reg");
    }

    fs::path m_folder;
    fs::path m_prefix;
    std::string m_fresh;
    std::string m_fresh_user;
    int m_count = -1;
    bool m_warm = false;
    bool m_spread = false;
};

}  // namespace ssr::bench
