#pragma once
// Throwaway folders and small file helpers for the Wine prefix tests.

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace ssr::test {

// A folder under $SSR_TEST_RUN_DIR when the test run sets it, else in /tmp;
// removed again at the end.
class TempFolder {
public:
    explicit TempFolder(const char* tag = "wine") {
        const char* run = std::getenv("SSR_TEST_RUN_DIR");
        const std::filesystem::path base = run && *run ? run : "/tmp";
        std::string pattern = (base / (std::string("ssr-") + tag + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Runs `command` in the shell: its output, without what it wrote to stderr,
// and its exit status in `*status` (-1 when it did not exit).
inline std::string Shell(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    const int raw = ::pclose(pipe);
    if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

// A .reg file as regedit and reg.exe write it: UTF-16LE with its byte
// order mark, lines ended by CR LF.
inline std::string Utf16File(const std::string& utf8) {
    std::string bytes = "\xff\xfe";
    for (const char16_t unit : FromUtf8(utf8)) {
        if (unit == u'\n') bytes += std::string("\r\0", 2);
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// The beginnings of the uninstall keys' section headers in the 64-bit and
// the 32-bit view, as system.reg and user.reg write them.
inline const std::string k64 = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
inline const std::string k32 = "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A value's bytes as the wide API returns a text: UTF-16LE with its terminator.
inline std::vector<std::uint8_t> WideBytes(TextView text, bool terminated = true) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xff));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// A commit's first failure, as a result code; success when every file was written.
inline long Status(const CommitResult& committed) {
    return committed.ok() ? kErrorSuccess : committed.failed.front().second.status;
}

// A deletion as one Remove click makes it: staged, then committed.
inline long DeleteNow(Registry& registry, RegHandle root, TextView path, std::uint32_t view = 0) {
    const long staged = registry.delete_tree(root, path, view);
    return staged != kErrorSuccess ? staged : Status(registry.commit());
}

inline const std::string kHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";

}  // namespace ssr::test
