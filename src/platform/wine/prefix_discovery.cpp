#include "platform/wine/prefix_discovery.h"

#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "catalogue/listing.h"
#include "platform/desktop.h"
#include "platform/entry_list.h"
#include "platform/wine/wine_prefix.h"
#include "platform/wine/wine_registry.h"

namespace ssr::wine {

namespace fs = std::filesystem;

namespace {

bool IsFolder(const fs::path& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode); }

// The subfolders of `folder`, by name; nothing when it cannot be read.
std::vector<fs::path> Subfolders(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return found;
    for (const fs::directory_entry& entry : it) {
        std::error_code ignored;
        if (entry.is_directory(ignored)) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::optional<std::chrono::system_clock::time_point> LastChange(const fs::path& prefix) {
    std::optional<std::chrono::system_clock::time_point> newest;
    for (const char* name : {"system.reg", "user.reg"}) {
        struct stat st {};
        if (::stat((prefix / name).c_str(), &st) != 0) continue;
        const auto when = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec) +
                          std::chrono::duration_cast<std::chrono::system_clock::duration>(
                              std::chrono::nanoseconds(st.st_mtim.tv_nsec));
        if (!newest || when > *newest) newest = when;
    }
    return newest;
}

// Takes every candidate that is a prefix and was not found before.
class Collector {
public:
    void Consider(const fs::path& candidate, PrefixPlace place) {
        struct stat st {};
        if (!IsFolder(candidate, st) || !IsPrefix(candidate)) return;
        const std::pair<dev_t, ino_t> identity{st.st_dev, st.st_ino};
        if (std::find(m_seen.begin(), m_seen.end(), identity) != m_seen.end()) return;
        m_seen.push_back(identity);
        m_found.push_back({candidate, place, LastChange(candidate)});
    }
    void ConsiderEach(const fs::path& folder, PrefixPlace place, const char* below = nullptr) {
        for (const fs::path& sub : Subfolders(folder)) Consider(below ? sub / below : sub, place);
    }
    [[nodiscard]] std::vector<FoundPrefix> Take() { return std::move(m_found); }

private:
    std::vector<std::pair<dev_t, ino_t>> m_seen;
    std::vector<FoundPrefix> m_found;
};

// A desktop that shows nothing and starts nothing; it only notes that the
// listing wanted to report a failure.
class QuietDesktop final : public Desktop {
public:
    bool reported = false;

    int MsgBox(TextView, int, std::optional<TextView>) override {
        reported = true;
        return kVbOk;
    }
    Text InputBox(TextView, std::optional<TextView>, TextView) override { return {}; }
    long ShellOpen(std::intptr_t, TextView, TextView, TextView, ShowCommand) override { return 2; }
    void StartCommand(TextView, ShowCommand) override {}
    [[nodiscard]] Text HomePageCommandLine(TextView) const override { return {}; }
    [[nodiscard]] FileState QueryFileState(TextView) noexcept override { return FileState::Unknown; }
    [[nodiscard]] std::optional<Text> EnvironmentVariable(TextView, ProgramView) override { return std::nullopt; }
    [[nodiscard]] bool IsPlainFile(TextView) override { return false; }
    [[nodiscard]] std::shared_ptr<PointerPicture> LoadPointer(TextView) override { return nullptr; }
    [[nodiscard]] Text ApplicationFolder() override { return {}; }
    [[nodiscard]] Text ApplicationTitle() const override { return {}; }
    void SetApplicationTitle(TextView) override {}
    void Randomize() override {}
    double Rnd() override { return 0.0; }
    [[nodiscard]] Text RegistryWriteAdvice(long /*status*/, RegHandle /*root*/) const override { return {}; }
    [[nodiscard]] SavedBackup SaveBackup(std::span<const std::uint8_t>) override { return {}; }
    [[noreturn]] void EndProcess() override { throw std::logic_error("counting never ends the process"); }
};

}  // namespace

bool IsPrefix(const fs::path& folder) noexcept {
    try {
        struct stat st {};
        return ::stat((folder / "system.reg").c_str(), &st) == 0 && S_ISREG(st.st_mode);
    } catch (...) {
        return false;
    }
}

PrefixRequest RequestedPrefix(const std::optional<fs::path>& argument, const char* wineprefix, const fs::path& home) {
    if (argument) return {*argument, PrefixSource::Argument};
    if (wineprefix && *wineprefix) return {wineprefix, PrefixSource::Environment};
    return {home / ".wine", PrefixSource::Home};
}

std::vector<FoundPrefix> DiscoverPrefixes(const fs::path& home) noexcept {
    try {
        Collector found;
        // ~/.wine, ~/.wine32, ~/.wine-games, ...
        std::vector<fs::path> dotted;
        for (const fs::path& sub : Subfolders(home))
            if (sub.filename().string().starts_with(".wine")) dotted.push_back(sub);
        for (const fs::path& sub : dotted) found.Consider(sub, PrefixPlace::Wine);
        found.ConsiderEach(home / ".local/share/wineprefixes", PrefixPlace::Winetricks);
        found.ConsiderEach(home / ".local/share/bottles/bottles", PrefixPlace::Bottles);
        found.ConsiderEach(home / ".var/app/com.usebottles.bottles/data/bottles/bottles", PrefixPlace::Bottles);
        found.ConsiderEach(home / "Games", PrefixPlace::Lutris);
        // Proton keeps one prefix per game, named by the game's number.
        for (const char* steam : {".steam/steam", ".local/share/Steam", ".var/app/com.valvesoftware.Steam/.local/share/Steam"})
            found.ConsiderEach(home / steam / "steamapps/compatdata", PrefixPlace::Steam, "pfx");
        return found.Take();
    } catch (...) {
        return {};
    }
}

std::optional<int> CountRecords(const fs::path& prefix) noexcept {
    try {
        if (!IsPrefix(prefix)) return std::nullopt;
        WinePrefixRegistry registry(std::make_shared<const Prefix>(prefix));
        EntryList list;
        QuietDesktop desktop;
        ListUninstallEntries(registry, list, desktop);
        if (desktop.reported) return std::nullopt;
        return list.Count();
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace ssr::wine
