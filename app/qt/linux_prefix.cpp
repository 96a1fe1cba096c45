// A Wine prefix as the Linux program opens it: its folder, name, backups and restore.
#include "linux_prefix.h"

#include <algorithm>
#include <memory>

#include "platform/qt/qt_desktop.h"
#include "platform/wine/posix/posix.h"
#include "platform/wine/wine_registry.h"

namespace ssr {

namespace fs = std::filesystem;

RequestedFolder RequestedPrefixFolder(const std::optional<fs::path>& argument, const char* wineprefix,
                                      const fs::path& home) {
    RequestedFolder requested;
    requested.request = wine::RequestedPrefix(argument, wineprefix, home);
    fs::path folder = wine::PrefixFolder(requested.request.path);
    std::error_code error;
    if (const fs::path absolute = fs::absolute(folder, error); !error) folder = absolute.lexically_normal();
    if (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
    requested.folder = folder;
    requested.is_prefix = wine::IsPrefix(folder);
    return requested;
}

std::string ShortPath(const fs::path& path, const fs::path& home) {
    if (!home.empty()) {
        const fs::path relative = path.lexically_relative(home);
        if (!relative.empty() && *relative.begin() != "..")
            return relative == "." ? std::string("~") : "~/" + relative.string();
    }
    return path.string();
}

LinuxPrefix::LinuxPrefix(fs::path folder, const fs::path& home, std::optional<std::string> name)
    : m_path(std::move(folder)), m_home(home), m_name(name ? std::move(*name) : wine::PrefixName(m_path, home)) {}

std::string LinuxPrefix::Title() const { return m_name.empty() ? ShortPath(m_path, m_home) : m_name; }

std::vector<BackupListing> LinuxPrefix::Backups() const {
    const fs::path folder = wine::BackupFolder(wine::Prefix(m_path));
    std::vector<BackupListing> backups;
    for (const std::string& name : wine::ListFolder(folder).names) {
        const fs::path file = folder / name;
        if (file.extension() != ".reg") continue;
        const wine::PathStatus status = wine::StatusOf(file);
        if (!status.Is(wine::EntryKind::File)) continue;
        backups.push_back({file, status.modified_ns, status.size});
    }
    std::sort(backups.begin(), backups.end(), [](const BackupListing& a, const BackupListing& b) {
        return a.changed_ns != b.changed_ns ? a.changed_ns > b.changed_ns : a.path > b.path;
    });
    return backups;
}

RestoreOutcome LinuxPrefix::Restore(const fs::path& file, wine::RestoreReplace replace, wine::RestoreMode mode) const {
    const auto prefix = std::make_shared<const wine::Prefix>(m_path);
    WinePrefixRegistry registry(prefix);
    RestoreOutcome outcome;
    outcome.report = wine::RestoreBackup(registry, file, replace, mode);
    // In the words a removal uses for the same failure.
    const QtDesktop desktop(prefix);
    for (const auto& [root, failure] : outcome.report.failed)
        outcome.advice.push_back(ToUtf8(desktop.RegistryWriteAdvice(failure, root)));
    return outcome;
}

}  // namespace ssr
