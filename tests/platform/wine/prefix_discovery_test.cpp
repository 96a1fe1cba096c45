// Which prefix the program opens, and the prefixes the chooser offers, on
// made-up home folders; the real home is never looked at.

#include "platform/wine/prefix_discovery.h"

#include <gtest/gtest.h>

#include <map>

#include "prefix_files.h"

namespace ssr::wine {
namespace {

namespace fs = std::filesystem;

const std::string kThreeRecords = test::kHeader +
    "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A] 1\n"
    "\"DisplayName\"=\"App A\"\n\"UninstallString\"=\"C:\\\\a\\\\unins.exe\"\n"
    "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\B] 1\n"
    "\"DisplayName\"=\"App B\"\n\"UninstallString\"=\"MsiExec.exe /X{1}\"\n"
    "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\NoCommand] 1\n"
    "\"DisplayName\"=\"Listed nowhere\"\n";

void MakePrefix(const fs::path& folder, const std::string& registry = test::kHeader) {
    fs::create_directories(folder);
    test::WriteBytes(folder / "system.reg", registry);
}

TEST(RequestedPrefix, PathArgumentThenEnvironmentThenHome) {
    struct Row {
        const char* name;
        std::optional<fs::path> argument;
        const char* wineprefix;
        fs::path expected;
        PrefixSource source;
    };
    const Row rows[] = {
        {"argument wins over the variable", fs::path("/p/arg"), "/p/env", "/p/arg", PrefixSource::Argument},
        {"argument alone", fs::path("relative/p"), nullptr, "relative/p", PrefixSource::Argument},
        {"variable when no argument", std::nullopt, "/p/env", "/p/env", PrefixSource::Environment},
        {"empty variable counts as unset", std::nullopt, "", "/home/u/.wine", PrefixSource::Home},
        {"home when nothing is named", std::nullopt, nullptr, "/home/u/.wine", PrefixSource::Home},
    };
    for (const Row& row : rows) {
        const PrefixRequest request = RequestedPrefix(row.argument, row.wineprefix, "/home/u");
        EXPECT_EQ(request.path, row.expected) << row.name;
        EXPECT_EQ(request.source, row.source) << row.name;
    }
}

TEST(IsPrefix, OnlyAFolderWithASystemRegFile) {
    test::TempFolder home("home");
    const fs::path& h = home.path();
    MakePrefix(h / "real");
    fs::create_directories(h / "empty");
    fs::create_directories(h / "reg-is-folder" / "system.reg");
    test::WriteBytes(h / "plain-file", "x");
    EXPECT_TRUE(IsPrefix(h / "real"));
    EXPECT_FALSE(IsPrefix(h / "empty"));
    EXPECT_FALSE(IsPrefix(h / "reg-is-folder"));
    EXPECT_FALSE(IsPrefix(h / "plain-file"));
    EXPECT_FALSE(IsPrefix(h / "missing"));
}

struct Place {
    const char* name;
    std::vector<std::string> prefixes;   // made as prefixes, relative to home
    std::vector<std::string> folders;    // made as plain folders: never offered
    std::vector<std::string> expected;   // in the chooser's order
    PrefixPlace place;
};

class Discovery : public ::testing::TestWithParam<Place> {};

TEST_P(Discovery, FindsThePrefixesOfEachPlace) {
    const Place& row = GetParam();
    test::TempFolder home("home");
    for (const std::string& p : row.prefixes) MakePrefix(home.path() / p);
    for (const std::string& f : row.folders) fs::create_directories(home.path() / f);
    const std::vector<FoundPrefix> found = DiscoverPrefixes(home.path());
    std::vector<std::string> paths;
    for (const FoundPrefix& f : found) {
        paths.push_back(fs::relative(f.path, home.path()).string());
        EXPECT_EQ(f.place, row.place) << paths.back();
        EXPECT_TRUE(f.last_change.has_value()) << paths.back();
    }
    EXPECT_EQ(paths, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Places, Discovery,
    ::testing::Values(
        Place{"DotWineFolders", {".wine", ".wine-games", ".wine32"}, {".winetricks-cache", "wine", ".local"},
              {".wine", ".wine-games", ".wine32"}, PrefixPlace::Wine},
        Place{"Winetricks", {".local/share/wineprefixes/office", ".local/share/wineprefixes/dx9"},
              {".local/share/wineprefixes/broken"},
              {".local/share/wineprefixes/dx9", ".local/share/wineprefixes/office"}, PrefixPlace::Winetricks},
        Place{"BottlesNativeAndFlatpak",
              {".local/share/bottles/bottles/Gaming", ".var/app/com.usebottles.bottles/data/bottles/bottles/Work"},
              {".local/share/bottles/bottles/Half-made"},
              {".local/share/bottles/bottles/Gaming", ".var/app/com.usebottles.bottles/data/bottles/bottles/Work"},
              PrefixPlace::Bottles},
        Place{"LutrisGames", {"Games/witcher", "Games/age-of-empires"}, {"Games/native-game"},
              {"Games/age-of-empires", "Games/witcher"}, PrefixPlace::Lutris},
        Place{"SteamBothHomes",
              {".steam/steam/steamapps/compatdata/220/pfx", ".local/share/Steam/steamapps/compatdata/730/pfx"},
              {".steam/steam/steamapps/compatdata/0", ".local/share/Steam/steamapps/compatdata/999/pfx"},
              {".steam/steam/steamapps/compatdata/220/pfx", ".local/share/Steam/steamapps/compatdata/730/pfx"},
              PrefixPlace::Steam},
        Place{"NothingAnywhere", {}, {".wine", "Games", ".local/share/wineprefixes"}, {}, PrefixPlace::Wine}),
    [](const ::testing::TestParamInfo<Place>& info) { return std::string(info.param.name); });

TEST(DiscoveryOrder, PlacesInTurnAndALinkedSteamHomeOnce) {
    test::TempFolder home("home");
    const fs::path& h = home.path();
    MakePrefix(h / ".local/share/Steam/steamapps/compatdata/10/pfx");
    fs::create_directories(h / ".steam");
    fs::create_directory_symlink(h / ".local/share/Steam", h / ".steam/steam");
    MakePrefix(h / "Games/g");
    MakePrefix(h / ".local/share/bottles/bottles/b");
    MakePrefix(h / ".local/share/wineprefixes/w");
    MakePrefix(h / ".wine");
    std::vector<PrefixPlace> places;
    for (const FoundPrefix& f : DiscoverPrefixes(h)) places.push_back(f.place);
    EXPECT_EQ(places, (std::vector<PrefixPlace>{PrefixPlace::Wine, PrefixPlace::Winetricks, PrefixPlace::Bottles,
                                                 PrefixPlace::Lutris, PrefixPlace::Steam}));
    EXPECT_TRUE(DiscoverPrefixes(h / "no-such-home").empty());
}

std::map<std::string, fs::file_time_type> Snapshot(const fs::path& root) {
    std::map<std::string, fs::file_time_type> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) files[entry.path().string()] = entry.last_write_time();
    return files;
}

TEST(CountRecords, CountsWhatTheListingListsAndWritesNothing) {
    test::TempFolder home("home");
    const fs::path& h = home.path();
    MakePrefix(h / "three", kThreeRecords);
    MakePrefix(h / "none");
    fs::create_directories(h / "not-a-prefix");
    const auto before = Snapshot(h);

    EXPECT_EQ(CountRecords(h / "three"), 2);  // the record without an uninstall command is not listed
    EXPECT_EQ(CountRecords(h / "none"), 0);
    EXPECT_EQ(CountRecords(h / "not-a-prefix"), std::nullopt);
    EXPECT_EQ(CountRecords(h / "missing"), std::nullopt);
    (void)DiscoverPrefixes(h);

    EXPECT_EQ(Snapshot(h), before);
    EXPECT_FALSE(fs::exists(h / "missing"));
}

}  // namespace
}  // namespace ssr::wine
