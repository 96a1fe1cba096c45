// Which prefix the program opens, and the prefixes the chooser offers, on
// made-up home folders; the real home is never looked at.

#include "platform/wine/discovery/prefix_discovery.h"

#include <gtest/gtest.h>

#include <map>

#include "catalogue/listing.h"
#include "platform/wine/wine_registry.h"
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
    std::map<std::string, std::string> files = {};  // written before looking, "@" stands for the home folder
    std::vector<std::string> names = {};  // each found prefix's name; none when empty
};

class Discovery : public ::testing::TestWithParam<Place> {};

TEST_P(Discovery, FindsThePrefixesOfEachPlace) {
    const Place& row = GetParam();
    test::TempFolder home("home");
    for (const std::string& p : row.prefixes) MakePrefix(home.path() / p);
    for (const std::string& f : row.folders) fs::create_directories(home.path() / f);
    for (auto [file, text] : row.files) {
        for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@'))
            text.replace(at, 1, home.path().string());
        fs::create_directories((home.path() / file).parent_path());
        test::WriteBytes(home.path() / file, text);
    }
    const std::vector<FoundPrefix> found = DiscoverPrefixes(home.path());
    std::vector<std::string> paths, names;
    for (const FoundPrefix& f : found) {
        paths.push_back(fs::relative(f.path, home.path()).string());
        names.push_back(f.name);
        EXPECT_EQ(f.place, row.place) << paths.back();
        EXPECT_TRUE(f.last_change.has_value()) << paths.back();
        EXPECT_EQ(PrefixName(f.path, home.path()), f.name) << paths.back();
    }
    EXPECT_EQ(paths, row.expected);
    if (row.names.empty()) EXPECT_EQ(names, std::vector<std::string>(names.size()));
    else EXPECT_EQ(names, row.names);
}

const std::string kLibraries = R"("libraryfolders"
{
	"0"
	{
		"path"		"@/.local/share/Steam"
		"apps" { "220" "1" }
	}
	"1"
	{
		"path"		"@/games/SteamLibrary"   // a second disk
	}
})";

INSTANTIATE_TEST_SUITE_P(
    Places, Discovery,
    ::testing::Values(
        Place{"DotWineFolders", {".wine", ".wine-games", ".wine32"}, {".winetricks-cache", "wine", ".local"},
              {".wine", ".wine-games", ".wine32"}, PrefixPlace::Wine},
        Place{"Winetricks", {".local/share/wineprefixes/office", ".local/share/wineprefixes/dx9"},
              {".local/share/wineprefixes/broken"},
              {".local/share/wineprefixes/dx9", ".local/share/wineprefixes/office"}, PrefixPlace::Winetricks},
        Place{"BottlesNativeAndFlatpakByTheirNames",
              {".local/share/bottles/bottles/Gaming", ".var/app/com.usebottles.bottles/data/bottles/bottles/Work"},
              {".local/share/bottles/bottles/Half-made"},
              {".local/share/bottles/bottles/Gaming", ".var/app/com.usebottles.bottles/data/bottles/bottles/Work"},
              PrefixPlace::Bottles,
              {{".local/share/bottles/bottles/Gaming/bottle.yml", "Arch: win64\nName: 'Games ''n'' more'\nPath: Gaming\n"},
               {".var/app/com.usebottles.bottles/data/bottles/bottles/Work/bottle.yml",
                "Environment: Software\nName: \"Office 2010\"  \n  Name: nested is not it\n"}},
              {"Games 'n' more", "Office 2010"}},
        Place{"LutrisGames", {"Games/witcher", "Games/age-of-empires"}, {"Games/native-game"},
              {"Games/age-of-empires", "Games/witcher"}, PrefixPlace::Lutris},
        Place{"LutrisGamesNamedWhereverTheirPrefixIs",
              {"Games/witcher", "elsewhere/gog", "lutris-new/epic"}, {},
              {"Games/witcher", "elsewhere/gog", "lutris-new/epic"}, PrefixPlace::Lutris,
              {{".config/lutris/games/the-witcher-3-1600000000.yml",
                "game:\n  exe: ~/Games/witcher/drive_c/w.exe\n  prefix: ~/Games/witcher\nwine:\n  version: lutris-7\n"},
               {".config/lutris/games/gog-galaxy-1700000000.yml",
                "name: GOG Galaxy\ngame:\n  prefix: \"@/elsewhere/gog\"\n"},
               {".local/share/lutris/games/epic.yml", "game:\n  prefix: @/lutris-new/epic\nname: Epic Games Store\n"},
               {".config/lutris/games/native.yml", "game:\n  exe: /usr/bin/true\n"}},
              {"the-witcher-3", "GOG Galaxy", "Epic Games Store"}},
        Place{"SteamBothHomes",
              {".steam/steam/steamapps/compatdata/220/pfx", ".local/share/Steam/steamapps/compatdata/730/pfx"},
              {".steam/steam/steamapps/compatdata/0", ".local/share/Steam/steamapps/compatdata/999/pfx"},
              {".steam/steam/steamapps/compatdata/220/pfx", ".local/share/Steam/steamapps/compatdata/730/pfx"},
              PrefixPlace::Steam},
        Place{"SteamTwoLibrariesNamedByTheirGames",
              {".local/share/Steam/steamapps/compatdata/220/pfx", "games/SteamLibrary/steamapps/compatdata/1091500/pfx",
               "games/SteamLibrary/steamapps/compatdata/228980/pfx"},
              {},
              {".local/share/Steam/steamapps/compatdata/220/pfx", "games/SteamLibrary/steamapps/compatdata/1091500/pfx",
               "games/SteamLibrary/steamapps/compatdata/228980/pfx"},
              PrefixPlace::Steam,
              {{".local/share/Steam/steamapps/libraryfolders.vdf", kLibraries},
               {".local/share/Steam/steamapps/appmanifest_220.acf", "\"AppState\"\n{\n\t\"appid\"\t\"220\"\n\t\"name\"\t\"Half-Life 2\"\n}\n"},
               // a game installed in the first library keeps its prefix in the second
               {".local/share/Steam/steamapps/appmanifest_1091500.acf", "\"AppState\" { \"name\" \"Cyberpunk \\\"2077\\\"\" }"},
               {"games/SteamLibrary/steamapps/appmanifest_228980.acf", "\"AppState\" { \"UserConfig\" { \"name\" \"not this\" } }"}},
              {"Half-Life 2", "Cyberpunk \"2077\"", ""}},
        Place{"SteamFlatpakAndAnOldLibraryList",
              {".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/70/pfx",
               "disk2/steamapps/compatdata/80/pfx"},
              {},
              {".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/70/pfx",
               "disk2/steamapps/compatdata/80/pfx"},
              PrefixPlace::Steam,
              {{".var/app/com.valvesoftware.Steam/.local/share/Steam/config/libraryfolders.vdf",
                "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\"1\"\n\t\"1\"\t\"@/disk2\"\n}\n"},
               {"disk2/steamapps/appmanifest_80.acf", "\"AppState\"\n{\n\t\"name\"\t\"Counter-Strike\"\n}\n"}},
              {"", "Counter-Strike"}},
        Place{"NothingAnywhere", {}, {".wine", "Games", ".local/share/wineprefixes"}, {}, PrefixPlace::Wine}),
    [](const ::testing::TestParamInfo<Place>& info) { return std::string(info.param.name); });

TEST(PrefixFolder, ASteamGamesFolderStandsForItsPrefix) {
    test::TempFolder home("home");
    const fs::path game = home.path() / "compatdata/440";
    MakePrefix(game / "pfx");
    MakePrefix(home.path() / "both/pfx");
    MakePrefix(home.path() / "both");
    EXPECT_EQ(PrefixFolder(game), game / "pfx");
    EXPECT_EQ(PrefixFolder(game / "pfx"), game / "pfx");
    EXPECT_EQ(PrefixFolder(home.path() / "both"), home.path() / "both");
    EXPECT_EQ(PrefixFolder(home.path() / "missing"), home.path() / "missing");
}

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

TEST(CountUninstallEntries, CountsWhatTheListingListsAndWritesNothing) {
    test::TempFolder home("home");
    const fs::path& h = home.path();
    MakePrefix(h / "three", kThreeRecords);
    MakePrefix(h / "none");
    MakePrefix(h / "damaged", "not a registry file\n");
    const auto before = Snapshot(h);

    const auto count = [](const fs::path& prefix) {
        WinePrefixRegistry registry(std::make_shared<const Prefix>(prefix));
        return CountUninstallEntries(registry);
    };
    EXPECT_EQ(count(h / "three"), 2);  // the record without an uninstall command is not listed
    EXPECT_EQ(count(h / "none"), 0);
    EXPECT_EQ(count(h / "damaged"), std::nullopt);  // unreadable is not empty
    (void)DiscoverPrefixes(h);

    EXPECT_EQ(Snapshot(h), before);
}

}  // namespace
}  // namespace ssr::wine
