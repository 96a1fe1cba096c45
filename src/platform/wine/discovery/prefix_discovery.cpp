// Finding the Wine prefix to open and the prefixes a user keeps.
#include "platform/wine/discovery/prefix_discovery.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <iterator>
#include <map>
#include <string_view>
#include <utility>

#include "platform/wine/posix/posix.h"

namespace ssr::wine {

namespace fs = std::filesystem;

namespace {

using Identity = std::pair<dev_t, ino_t>;

// The folder at `path`, followed through links, with its identity; none
// for anything else.
std::optional<Identity> FolderIdentity(const fs::path& path) {
    const PathStatus status = StatusOf(path);
    if (!status.Is(EntryKind::Folder)) return std::nullopt;
    return Identity{status.device, status.inode};
}

std::optional<Identity> IdentityOf(const fs::path& path) {
    const PathStatus status = StatusOf(path);
    if (!status.Found()) return std::nullopt;
    return Identity{status.device, status.inode};
}

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

// The files of `folder` whose names end in `suffix`, by name.
std::vector<fs::path> FilesEndingIn(const fs::path& folder, std::string_view suffix) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return found;
    for (const fs::directory_entry& entry : it)
        if (entry.path().filename().string().ends_with(suffix)) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

std::optional<std::chrono::system_clock::time_point> LastChange(const fs::path& prefix) {
    std::optional<std::chrono::system_clock::time_point> newest;
    for (const char* name : {"system.reg", "user.reg"}) {
        const PathStatus status = StatusOf(prefix / name);
        if (!status.Found()) continue;
        const auto when = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(status.modified_ns)));
        if (!newest || when > *newest) newest = when;
    }
    return newest;
}

// Steam's KeyValues text: quoted (or bare) keys and values, braces for
// sections, // comments. Calls `pair` for every key with a text value, with
// the number of sections it lies in.
void ScanKeyValues(std::string_view text, const std::function<void(int, const std::string&, const std::string&)>& pair) {
    std::size_t at = 0;
    // The next token: "{", "}" or a text; false at the end.
    const auto next = [&](std::string& token, bool& is_text) {
        while (at < text.size()) {
            const char c = text[at];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++at;
            } else if (text.substr(at, 2) == "//") {
                at = text.find('\n', at);
                if (at == std::string_view::npos) at = text.size();
            } else {
                break;
            }
        }
        if (at >= text.size()) return false;
        token.clear();
        is_text = true;
        if (text[at] == '{' || text[at] == '}') {
            token = text[at++];
            is_text = false;
        } else if (text[at] == '"') {
            for (++at; at < text.size() && text[at] != '"'; ++at) {
                if (text[at] == '\\' && at + 1 < text.size()) {
                    const char escaped = text[++at];
                    token += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
                } else {
                    token += text[at];
                }
            }
            ++at;
        } else {
            while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at])) && text[at] != '{' &&
                   text[at] != '}' && text[at] != '"')
                token += text[at++];
        }
        return true;
    };
    int depth = 0;
    std::string key, value;
    bool is_text = false;
    while (next(key, is_text)) {
        if (!is_text) {
            depth += key == "{" ? 1 : -1;
            if (depth < 0) return;
            continue;
        }
        if (!next(value, is_text)) return;
        if (is_text) pair(depth, key, value);
        else if (value == "{") ++depth;
        else if (--depth < 0) return;
    }
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A YAML scalar as configuration files write it: bare, 'single' or "double" quoted.
std::string YamlScalar(std::string_view raw) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!raw.empty() && blank(raw.front())) raw.remove_prefix(1);
    while (!raw.empty() && blank(raw.back())) raw.remove_suffix(1);
    std::string value;
    if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') {
        raw = raw.substr(1, raw.size() - 2);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            value += raw[i];
            if (raw[i] == '\'' && i + 1 < raw.size() && raw[i + 1] == '\'') ++i;
        }
    } else if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        raw = raw.substr(1, raw.size() - 2);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
            value += raw[i];
        }
    } else {
        if (const std::size_t comment = raw.find(" #"); comment != std::string_view::npos) raw = raw.substr(0, comment);
        while (!raw.empty() && blank(raw.back())) raw.remove_suffix(1);
        value = raw;
    }
    return value;
}

// Calls `entry` with each "key: value" line of a YAML file and the top-level
// key it lies under: empty for a top-level line, "-" below a key with a value.
void ScanYaml(std::string_view text, const std::function<void(std::string_view, std::string_view, std::string)>& entry) {
    std::string section;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent == std::string_view::npos || line[indent] == '#') continue;
        const std::size_t colon = line.find(':', indent);
        if (colon == std::string_view::npos) continue;
        const std::string_view key = line.substr(indent, colon - indent);
        const std::string value = YamlScalar(line.substr(colon + 1));
        if (indent == 0) {
            section = value.empty() ? std::string(key) : std::string("-");
            entry({}, key, value);
        } else {
            entry(section, key, value);
        }
    }
}

fs::path ExpandHome(const std::string& path, const fs::path& home) {
    if (path == "~") return home;
    if (path.starts_with("~/")) return home / path.substr(2);
    if (path.starts_with("$HOME/")) return home / path.substr(6);
    return path;
}

// The folders Steam keeps its own files in: native, Flatpak and Snap.
constexpr const char* kSteamRoots[] = {
    ".steam/steam", ".local/share/Steam", ".steam/root",
    ".var/app/com.valvesoftware.Steam/.local/share/Steam", ".var/app/com.valvesoftware.Steam/data/Steam",
    "snap/steam/common/.local/share/Steam"};

// What the programs that keep prefixes record of them, read once and only when asked.
class Keepers {
public:
    Keepers(fs::path home, std::vector<std::string>* notes) : m_home(std::move(home)), m_notes(notes) {}

    // Every Steam library: each Steam folder and the libraries its
    // libraryfolders.vdf lists, each once.
    const std::vector<fs::path>& SteamLibraries() {
        if (m_libraries) return *m_libraries;
        m_libraries.emplace();
        std::vector<Identity> seen;
        const auto add = [&](const fs::path& library) {
            const std::optional<Identity> folder = FolderIdentity(library);
            if (!folder) return;
            const Identity identity = *folder;
            if (std::find(seen.begin(), seen.end(), identity) != seen.end()) return;
            seen.push_back(identity);
            m_libraries->push_back(library);
        };
        for (const char* root : kSteamRoots) {
            const fs::path steam = m_home / root;
            add(steam);
            for (const char* list : {"steamapps/libraryfolders.vdf", "config/libraryfolders.vdf"}) {
                // Today's file gives each library a section with its "path";
                // older ones give the path as the value of a numbered key.
                ScanKeyValues(ReadSmallFile(steam / list), [&](int depth, const std::string& key, const std::string& value) {
                    if ((depth == 2 && key == "path") || (depth == 1 && AllDigits(key))) add(ExpandHome(value, m_home));
                });
            }
        }
        return *m_libraries;
    }

    // The game a Proton prefix (<library>/steamapps/compatdata/<id>/pfx) belongs to.
    std::string SteamGame(const fs::path& prefix) {
        const fs::path game_folder = prefix.parent_path();
        const std::string id = game_folder.filename().string();
        if (prefix.filename() != "pfx" || !AllDigits(id) || game_folder.parent_path().filename() != "compatdata") return {};
        // The game may be installed in another library than its prefix.
        std::vector<fs::path> libraries{game_folder.parent_path().parent_path().parent_path()};
        const std::vector<fs::path>& all = SteamLibraries();
        libraries.insert(libraries.end(), all.begin(), all.end());
        for (const fs::path& library : libraries) {
            std::string name;
            ScanKeyValues(ReadSmallFile(library / "steamapps" / ("appmanifest_" + id + ".acf")),
                          [&name](int depth, const std::string& key, const std::string& value) {
                              if (depth == 1 && name.empty() && EqualsIgnoringCase(key, "name")) name = value;
                          });
            if (!name.empty()) return name;
        }
        return {};
    }

    // The prefixes Lutris's game configurations name, with their games' names.
    const std::vector<FoundPrefix>& LutrisGames() {
        if (m_lutris) return *m_lutris;
        m_lutris.emplace();
        for (const char* folder : {".config/lutris/games", ".local/share/lutris/games"}) {
            for (const fs::path& file : FilesEndingIn(m_home / folder, ".yml")) {
                std::string name, prefix;
                ScanYaml(ReadSmallFile(file), [&](std::string_view section, std::string_view key, std::string value) {
                    if (section.empty() && key == "name") name = std::move(value);
                    else if (section == "game" && key == "prefix") prefix = std::move(value);
                });
                if (prefix.empty()) continue;
                if (name.empty()) {
                    // "<game>-<time it was added>.yml" names the game when the file does not.
                    name = file.stem().string();
                    const std::size_t dash = name.rfind('-');
                    if (dash != std::string::npos && dash > 0 && AllDigits(std::string_view(name).substr(dash + 1)))
                        name.resize(dash);
                }
                fs::path path = ExpandHome(prefix, m_home);
                m_lutris_identities.push_back(IdentityOf(path));
                m_lutris->push_back({std::move(path), PrefixPlace::Lutris, name, std::nullopt});
            }
        }
        return *m_lutris;
    }

    std::string Name(const fs::path& prefix) {
        if (std::string game = SteamGame(prefix); !game.empty()) return game;
        std::string bottle;
        ScanYaml(ReadSmallFile(prefix / "bottle.yml"), [&bottle](std::string_view section, std::string_view key, std::string value) {
            if (section.empty() && key == "Name") bottle = std::move(value);
        });
        if (!bottle.empty()) return bottle;
        const std::optional<Identity> identity = IdentityOf(prefix);
        if (!identity) return {};
        const std::vector<FoundPrefix>& games = LutrisGames();
        for (std::size_t i = 0; i < games.size(); ++i)
            if (m_lutris_identities[i] == identity) return games[i].name;
        return {};
    }

private:
    // The whole of a small configuration file; empty when there is none or
    // it cannot be read. Anything larger than a configuration file is none,
    // and anything but a plain file (a FIFO would hold the program) is not
    // even opened for long: it is passed over with a note.
    std::string ReadSmallFile(const fs::path& path) {
        constexpr std::size_t kLimit = 1 << 20;
        ReadResult read = wine::ReadSmallFile(path, kLimit);
        if (read.error == IoError::None) return std::move(read.bytes);
        if (read.error != IoError::NotFound && m_notes) m_notes->push_back(path.string() + " " + ReadFailureText(read.code) + "; passed over");
        return {};
    }

    fs::path m_home;
    std::vector<std::string>* m_notes;
    std::optional<std::vector<fs::path>> m_libraries;
    std::optional<std::vector<FoundPrefix>> m_lutris;
    std::vector<std::optional<Identity>> m_lutris_identities;
};

// Takes every candidate that is a prefix and was not found before.
class Collector {
public:
    explicit Collector(Keepers& keepers) : m_keepers(keepers) {}

    void Consider(const fs::path& candidate, PrefixPlace place) {
        const std::optional<Identity> folder = FolderIdentity(candidate);
        if (!folder || !IsPrefix(candidate)) return;
        const Identity identity = *folder;
        if (std::find(m_seen.begin(), m_seen.end(), identity) != m_seen.end()) return;
        m_seen.push_back(identity);
        m_found.push_back({candidate, place, m_keepers.Name(candidate), LastChange(candidate)});
    }
    void ConsiderEach(const fs::path& folder, PrefixPlace place, const char* below = nullptr) {
        for (const fs::path& sub : Subfolders(folder)) Consider(below ? sub / below : sub, place);
    }
    [[nodiscard]] std::vector<FoundPrefix> Take() { return std::move(m_found); }

private:
    Keepers& m_keepers;
    std::vector<Identity> m_seen;
    std::vector<FoundPrefix> m_found;
};

}  // namespace

bool IsPrefix(const fs::path& folder) noexcept {
    try {
        return StatusOf(folder / "system.reg").Is(EntryKind::File);
    } catch (...) {
        return false;
    }
}

fs::path PrefixFolder(const fs::path& folder) noexcept {
    try {
        if (!IsPrefix(folder) && IsPrefix(folder / "pfx")) return folder / "pfx";
        return folder;
    } catch (...) {
        return folder;
    }
}

PrefixRequest RequestedPrefix(const std::optional<fs::path>& argument, const char* wineprefix, const fs::path& home) {
    if (argument) return {*argument, PrefixSource::Argument};
    if (wineprefix && *wineprefix) return {wineprefix, PrefixSource::Environment};
    return {home / ".wine", PrefixSource::Home};
}

std::vector<FoundPrefix> DiscoverPrefixes(const fs::path& home, std::vector<std::string>* notes) noexcept {
    try {
        Keepers keepers(home, notes);
        Collector found(keepers);
        // ~/.wine, ~/.wine32, ~/.wine-games, ...
        std::vector<fs::path> dotted;
        for (const fs::path& sub : Subfolders(home))
            if (sub.filename().string().starts_with(".wine")) dotted.push_back(sub);
        for (const fs::path& sub : dotted) found.Consider(sub, PrefixPlace::Wine);
        found.ConsiderEach(home / ".local/share/wineprefixes", PrefixPlace::Winetricks);
        found.ConsiderEach(home / ".local/share/bottles/bottles", PrefixPlace::Bottles);
        found.ConsiderEach(home / ".var/app/com.usebottles.bottles/data/bottles/bottles", PrefixPlace::Bottles);
        std::vector<fs::path> lutris = Subfolders(home / "Games");
        for (const FoundPrefix& game : keepers.LutrisGames()) lutris.push_back(game.path);
        std::sort(lutris.begin(), lutris.end());
        for (const fs::path& prefix : lutris) found.Consider(prefix, PrefixPlace::Lutris);
        // Proton keeps one prefix per game, in the library the game is in.
        for (const fs::path& library : keepers.SteamLibraries())
            found.ConsiderEach(library / "steamapps/compatdata", PrefixPlace::Steam, "pfx");
        return found.Take();
    } catch (...) {
        return {};
    }
}

std::string PrefixName(const fs::path& prefix, const fs::path& home) noexcept {
    try {
        Keepers keepers(home, nullptr);
        return keepers.Name(prefix);
    } catch (...) {
        return {};
    }
}

}  // namespace ssr::wine
