// A Wine prefix: its path, Windows paths mapped into it, a running wineserver.
#include "platform/wine/prefix/wine_prefix.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/short_names.h"
#include "platform/wine/posix/posix.h"
#include "platform/wine/prefix/server_lock.h"

namespace ssr::wine {

namespace fs = std::filesystem;

// Folder listings by lower-cased name, for the lookups of names that are not
// there as written. Suggest asks for thousands of paths in the same few
// folders ("Program Files" with a folder per program); reading such a folder
// once per path made it quadratic. A listing is used only while the folder's
// identity and change time are what they were when it was read.
class FolderIndex {
public:
    // The entry of `folder` whose name matches `name` without regard to
    // case, as Wine looks a name up when it is not there as written; failing
    // that, for a name that fits 8.3, the entry whose Wine short name it is.
    // `failure` says why a folder could not be listed (None when it could),
    // so that "not there" can be told from "cannot see".
    std::optional<std::string> Find(const fs::path& folder, TextView name, PathFailure& failure) {
        failure = PathFailure::None;
        const PathStatus status = Stat(folder);
        if (!status.Is(EntryKind::Folder)) {
            failure = status.Found() ? PathFailure::NotAFolder : FailureOf(status.error);
            return std::nullopt;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        Listing& listing = m_listings[folder.native()];
        if (!listing.read || listing.device != status.device || listing.inode != status.inode ||
            listing.changed != status.modified_ns) {
            Listing& fresh = m_listings.size() > kMaxFolders ? (m_listings.clear(), m_listings[folder.native()])
                                                                : listing;
            if (!Read(fresh, folder, status, failure)) return std::nullopt;
            return Lookup(fresh, name);
        }
        return Lookup(listing, name);
    }

    // What a folder on the way to a file is: within a run of file tests
    // each is asked once, as the folders of one run do not come and go
    // under it.
    PathStatus Stat(const fs::path& path) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_runs > 0)
                if (const auto it = m_stats.find(path.native()); it != m_stats.end()) return it->second;
        }
        const PathStatus status = StatusOf(path);
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_runs > 0) m_stats[path.native()] = status;
        return status;
    }

    void BeginRun() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_runs;
    }
    void EndRun() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_runs > 0 && --m_runs == 0) m_stats.clear();
    }

private:
    static constexpr std::size_t kMaxFolders = 512;

    int m_runs = 0;
    std::unordered_map<std::string, PathStatus> m_stats;

    struct Listing {
        bool read = false;
        dev_t device = 0;
        ino_t inode = 0;
        std::int64_t changed = 0;
        std::vector<std::string> names;                 // as listed
        std::unordered_map<Text, std::size_t> by_lower;  // the first entry of each lower-cased name
        bool shorts_made = false;
        std::unordered_map<Text, std::size_t> by_short;  // the first entry of each lower-cased Wine short name
    };

    static bool Read(Listing& listing, const fs::path& folder, const PathStatus& status, PathFailure& failure) {
        listing = Listing{};
        FolderListing read = ListFolder(folder);
        if (read.error != 0) {
            failure = FailureOf(read.error);
            return false;
        }
        listing.names = std::move(read.names);
        for (std::size_t i = 0; i < listing.names.size(); ++i)
            listing.by_lower.emplace(LowerCase(FromUtf8(listing.names[i])), i);
        listing.read = true;
        listing.device = status.device;
        listing.inode = status.inode;
        listing.changed = status.modified_ns;
        return true;
    }

    static std::optional<std::string> Lookup(Listing& listing, TextView name) {
        const Text lower = LowerCase(name);
        if (const auto it = listing.by_lower.find(lower); it != listing.by_lower.end()) return listing.names[it->second];
        if (!IsLegalShortName(name)) return std::nullopt;
        // Short names are made only when a program asks by one, once per listing.
        if (!listing.shorts_made) {
            for (std::size_t i = 0; i < listing.names.size(); ++i) {
                const Text long_name = FromUtf8(listing.names[i]);
                if (!IsLegalShortName(long_name)) listing.by_short.emplace(LowerCase(WineShortName(long_name)), i);
            }
            listing.shorts_made = true;
        }
        if (const auto it = listing.by_short.find(lower); it != listing.by_short.end()) return listing.names[it->second];
        return std::nullopt;
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, Listing> m_listings;
};

namespace {

bool IsDriveLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Made absolute once, so that a relative $WINEPREFIX keeps naming the same
// folder whatever the current folder becomes; left as given only when even
// the current folder cannot be found.
fs::path Absolute(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute;
}

}  // namespace

Prefix::Prefix(const fs::path& path) : m_path(Absolute(path)), m_folders(std::make_unique<FolderIndex>()) {}

Prefix::~Prefix() = default;

// A Windows path mapped into the prefix, with what the walk learnt on the way.
// Without a path, the Windows path names nothing in the prefix, and
// `doubt` says why.
struct Prefix::Mapping {
    std::optional<fs::path> path;
    FileState state = FileState::Exists;
    FileDoubt doubt = FileDoubt::None;
};

namespace {

FileDoubt DoubtOf(PathFailure failure) {
    switch (failure) {
    case PathFailure::Denied: return FileDoubt::AccessDenied;
    case PathFailure::NotReady: return FileDoubt::NotReady;
    default: return FileDoubt::Unreadable;
    }
}

}  // namespace

Prefix::Mapping Prefix::Map(TextView windows_path) const {
    const auto unmapped = [](FileDoubt doubt) { return Mapping{std::nullopt, FileState::Unknown, doubt}; };
    if (windows_path.empty() || windows_path.find(u'\0') != TextView::npos) return unmapped(FileDoubt::NotFullPath);
    // Windows refuses these in names; FindFirstFile-style patterns are not paths.
    if (windows_path.find_first_of(u"*?\"<>|") != TextView::npos) return unmapped(FileDoubt::Unreadable);
    TextView rest = windows_path;
    Mapping mapping;
    fs::path base;
    if (rest.size() >= 2 && rest[1] == u':') {
        if (!IsDriveLetter(rest[0])) return unmapped(FileDoubt::NotFullPath);
        const char letter = static_cast<char>(LowerCaseUnit(rest[0]));
        base = m_path / "dosdevices" / std::string{letter, ':'};
        if (!m_folders->Stat(base).Found()) {
            // Without dosdevices Wine itself takes drive_c for C:.
            if (letter == 'c' && !StatusOf(base, FollowLinks::No).Found() && m_folders->Stat(m_path / "drive_c").Found()) {
                base = m_path / "drive_c";
            } else {
                // No such drive now: nothing below it can be told apart.
                return unmapped(FileDoubt::NoSuchDrive);
            }
        }
        rest.remove_prefix(2);
    } else if (rest.starts_with(u"\\\\") || rest.starts_with(u"//")) {
        return unmapped(FileDoubt::NetworkPath);  // network shares have no place in a prefix
    } else {
        base = fs::current_path();
    }
    if (rest.find(u':') != TextView::npos) return unmapped(FileDoubt::Unreadable);

    fs::path mapped = base;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of(u"\\/", start);
        if (end == TextView::npos) end = rest.size();
        const TextView part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (mapped != base) mapped = mapped.parent_path();
            continue;
        }
        const std::string as_written = ToUtf8(part);
        // The folders on the way may be known from the run; the last name is always asked.
        const bool last = rest.find_first_not_of(u"\\/", start - 1) == TextView::npos || start > rest.size();
        // Once a component is missing or unreadable, the rest is only spelt out.
        if (mapping.state == FileState::Exists) {
            const fs::path candidate = mapped / as_written;
            const PathStatus status = last ? StatusOf(candidate) : m_folders->Stat(candidate);
            if (!status.Found()) {
                PathFailure failure = FailureOf(status.error);
                if (failure == PathFailure::Missing) {
                    PathFailure listing_failure = PathFailure::None;
                    if (const auto other = m_folders->Find(mapped, part, listing_failure)) {
                        mapped /= *other;
                        continue;
                    }
                    // A folder that cannot be listed may hold the name in another
                    // case; one that went meanwhile says nothing either.
                    if (listing_failure != PathFailure::None)
                        failure = listing_failure == PathFailure::Missing || listing_failure == PathFailure::NotAFolder
                                      ? PathFailure::Other
                                      : listing_failure;
                }
                if (failure == PathFailure::Missing || failure == PathFailure::NotAFolder) {
                    // A file where a folder should be is a plain "not there".
                    // A short name nothing here makes may still stand for a
                    // long name on the volume that made it.
                    mapping.state = IsShortNameForm(part) ? FileState::Unknown : FileState::Missing;
                    mapping.doubt = IsShortNameForm(part) ? FileDoubt::ShortName : FileDoubt::None;
                } else {
                    mapping.state = FileState::Unknown;
                    mapping.doubt = DoubtOf(failure);
                }
            }
        }
        mapped /= as_written;
    }
    mapping.path = std::move(mapped);
    return mapping;
}

std::optional<fs::path> Prefix::MapWindowsPath(TextView windows_path) const {
    try {
        return Map(windows_path).path;
    } catch (...) {
        return std::nullopt;
    }
}

FileAnswer Prefix::WindowsPathState(TextView windows_path) const noexcept {
    try {
        // A drive letter without its root is the drive's current folder,
        // which no one but the program that set it knows.
        const auto separator = [&](std::size_t i) {
            return windows_path.size() > i && (windows_path[i] == u'\\' || windows_path[i] == u'/');
        };
        if (separator(0) && separator(1)) return FileAnswer{FileState::Unknown, FileDoubt::NetworkPath};
        if (!(windows_path.size() >= 3 && windows_path[1] == u':' && separator(2)))
            return FileAnswer{FileState::Unknown, FileDoubt::NotFullPath};
        const Mapping mapping = Map(windows_path);
        return FileAnswer{mapping.state, mapping.doubt};
    } catch (...) {
        return FileAnswer{FileState::Unknown, FileDoubt::Unreadable};
    }
}

bool Prefix::ServerRunning() const noexcept { return ServerRunningFor(m_path); }

void Prefix::BeginFileTests() const noexcept {
    try {
        m_folders->BeginRun();
    } catch (...) {
        // Without the run, every folder is asked each time, as before.
    }
}

void Prefix::EndFileTests() const noexcept {
    try {
        m_folders->EndRun();
    } catch (...) {
    }
}

}  // namespace ssr::wine
