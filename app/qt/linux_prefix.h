#pragma once
// One Wine prefix as the Linux program opens it, whoever opens it (the
// window, the chooser, the command line): which folder a start asks for,
// what the prefix is called, its backups, and putting one of them back.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/wine/backups/backups.h"
#include "platform/wine/discovery/prefix_discovery.h"

namespace ssr {

// The folder a start asks for: the path given, else $WINEPREFIX when set
// and not empty, else ~/.wine; a Steam game's compatdata folder stands for
// the prefix in its pfx. Absolute, as people write it ("/x" for "/x/").
struct RequestedFolder {
    wine::PrefixRequest request;  // as named, and by what
    std::filesystem::path folder;
    bool is_prefix = false;  // it holds a system.reg
};
// `wineprefix` is the variable's value, nullptr when unset.
[[nodiscard]] RequestedFolder RequestedPrefixFolder(const std::optional<std::filesystem::path>& argument,
                                                    const char* wineprefix, const std::filesystem::path& home);

// `path` with the home folder written "~", as a person reads it.
[[nodiscard]] std::string ShortPath(const std::filesystem::path& path, const std::filesystem::path& home);

// A backup file of a prefix.
struct BackupListing {
    std::filesystem::path path;
    std::int64_t changed_ns = 0;  // its last change, since the epoch
    std::uintmax_t size = 0;
};

// What a restore did, with what a removal would tell the user of each file
// that was not written.
struct RestoreOutcome {
    wine::RestoreReport report;
    std::vector<std::string> advice;  // one paragraph for each file not written
};

class LinuxPrefix {
public:
    // `name` is what its keeper calls it, when the caller knows already (a
    // prefix found in the usual places); otherwise it is looked up.
    LinuxPrefix(std::filesystem::path folder, const std::filesystem::path& home,
                std::optional<std::string> name = std::nullopt);

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    // The game's or bottle's name its keeper gives it; empty when none does.
    [[nodiscard]] const std::string& Name() const { return m_name; }
    // How it is named wherever a prefix is named for the user: its keeper's
    // name, else its folder with the home folder as "~".
    [[nodiscard]] std::string Title() const;

    // Its backup files, newest first.
    [[nodiscard]] std::vector<BackupListing> Backups() const;
    // Puts the records of `file` back, through the prefix store's commit.
    [[nodiscard]] RestoreOutcome Restore(const std::filesystem::path& file, wine::RestoreReplace replace,
                                         wine::RestoreMode mode) const;

private:
    std::filesystem::path m_path;
    std::filesystem::path m_home;
    std::string m_name;
};

}  // namespace ssr
