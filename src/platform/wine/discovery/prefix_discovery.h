#pragma once
// Which Wine prefix the Linux program opens, and the prefixes a user keeps in
// the usual places (plain Wine, winetricks, Bottles, Lutris, Steam's Proton),
// each with the name its keeper gives it. Everything here only looks: no
// folder is created and no file is written. The home folder is a parameter,
// so tests work on made-up homes.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ssr::wine {

// A folder is a prefix when it holds a system.reg that is a file.
[[nodiscard]] bool IsPrefix(const std::filesystem::path& folder) noexcept;

// The prefix a picked folder stands for: the folder itself, or the "pfx"
// inside it when the folder is not a prefix but that is (Steam's
// compatdata/<game> folder holds its prefix there).
[[nodiscard]] std::filesystem::path PrefixFolder(const std::filesystem::path& folder) noexcept;

// Where the prefix to open was named.
enum class PrefixSource { Argument, Environment, Home };

struct PrefixRequest {
    std::filesystem::path path;
    PrefixSource source = PrefixSource::Home;
};

// The path argument first, then $WINEPREFIX when set and not empty, then
// <home>/.wine. `wineprefix` is the variable's value, nullptr when unset.
[[nodiscard]] PrefixRequest RequestedPrefix(const std::optional<std::filesystem::path>& argument,
                                            const char* wineprefix, const std::filesystem::path& home);

// The program that keeps a found prefix.
enum class PrefixPlace { Wine, Winetricks, Bottles, Lutris, Steam };

struct FoundPrefix {
    std::filesystem::path path;
    PrefixPlace place = PrefixPlace::Wine;
    // What its keeper calls it (the game, the bottle), in UTF-8; empty when
    // nothing names it.
    std::string name;
    // The newest change of the prefix's registry files; empty when unknown.
    std::optional<std::chrono::system_clock::time_point> last_change;
};

// The prefixes under `home`, place by place in the order of PrefixPlace and
// by path within a place. Steam's prefixes are looked for in every library
// its libraryfolders.vdf lists, for the native, the Flatpak and the Snap
// Steam; Lutris's also wherever a game's configuration puts them. A folder
// reached twice (Steam's ~/.steam/steam is usually a link to
// ~/.local/share/Steam) is listed once. Folders and files that cannot be
// read are passed over; a configuration file that is not a plain file (a
// FIFO is never waited on) or cannot be read gets a line in `notes`, when
// given. Never fails.
[[nodiscard]] std::vector<FoundPrefix> DiscoverPrefixes(const std::filesystem::path& home,
                                                        std::vector<std::string>* notes = nullptr) noexcept;

// What the keeper of `prefix` calls it, as DiscoverPrefixes would name it;
// empty when nothing names it. Never fails.
[[nodiscard]] std::string PrefixName(const std::filesystem::path& prefix, const std::filesystem::path& home) noexcept;

}  // namespace ssr::wine
