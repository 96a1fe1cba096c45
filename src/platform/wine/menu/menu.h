#pragma once
// The launchers and file associations Wine writes into the Linux desktop's
// menu for the programs of its prefixes, found, judged, removed with a
// backup and put back. What Wine writes (winemenubuilder):
//   - a launcher per Start Menu shortcut, <data>/applications/wine/<path
//     below the Start Menu>.desktop, whose Exec is
//     env WINEPREFIX="<prefix>" wine <the .lnk's Windows path, escaped>;
//     a menu merge file <config>/menus/applications-merged/wine-<path with
//     '-'>.menu; folder entries <data>/desktop-directories/wine-<folder>.directory;
//     icons <data>/icons/hicolor/<size>/apps/<name>.png;
//   - a launcher per desktop shortcut, <desktop folder>/<name>.desktop;
//   - a file association per extension, <data>/applications/wine-extension-<ext>.desktop
//     and <data>/mime/packages/x-wine-extension-<ext>.xml;
//   - in the prefix's user.reg, Software\Wine\MenuFiles: each file it wrote
//     (value name "\\?\unix/home/.../x.desktop" or a drive path) with the
//     Windows path of its shortcut; Software\Wine\FileOpenAssociations\<.ext>.
// A .desktop file Wine did not write (another Exec, another folder) is never
// listed, judged or touched.
//
// Entry header of src/platform/wine/menu.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop_menu.h"
#include "platform/registry.h"
#include "platform/wine/prefix/prefix.h"

namespace ssr::wine {

// Where the desktop keeps its menu.
struct MenuFolders {
    std::filesystem::path data;     // $XDG_DATA_HOME, else <home>/.local/share
    std::filesystem::path config;   // $XDG_CONFIG_HOME, else <home>/.config
    std::filesystem::path desktop;  // XDG_DESKTOP_DIR of <config>/user-dirs.dirs, else <home>/Desktop
};
// From the process's environment; relative XDG values are ignored, as the
// XDG rules say.
[[nodiscard]] MenuFolders MenuFoldersOf(const std::filesystem::path& home);

// What kind of thing Wine wrote.
enum class LauncherKind { MenuEntry, DesktopShortcut, Association };

// One Wine-written launcher or association, as read from its file.
struct WineLauncher {
    std::filesystem::path file;
    LauncherKind kind = LauncherKind::MenuEntry;
    std::string name;  // Name, in the user's language where the file has one (UTF-8)
    std::string exec;  // the Exec line as written (UTF-8)
    // The WINEPREFIX its Exec names, as a folder; empty when it names none.
    std::filesystem::path prefix;
};

// One look at the whole menu: every Wine-written launcher and association
// the folders hold, for every prefix, read once and shared (read-only) by
// every prefix's menu and by the threads that look at prefixes. Never fails:
// what cannot be read is passed over.
class MenuScan {
public:
    [[nodiscard]] static std::shared_ptr<const MenuScan> Read(const MenuFolders& folders);

    [[nodiscard]] const MenuFolders& folders() const { return m_folders; }
    [[nodiscard]] const std::vector<WineLauncher>& launchers() const { return m_launchers; }
    // The launchers whose prefix folder is not there now, by prefix folder.
    [[nodiscard]] std::vector<const WineLauncher*> OfGonePrefixes() const;

private:
    MenuFolders m_folders;
    std::vector<WineLauncher> m_launchers;
};

// The menu of one prefix: the launchers its MenuFiles lists and those whose
// WINEPREFIX names it. `hives` is the prefix's registry (MenuFiles,
// FileOpenAssociations and the associations' commands are read from it);
// it must outlive the menu.
[[nodiscard]] std::unique_ptr<DesktopMenu> PrefixMenu(std::shared_ptr<const MenuScan> scan,
                                                      std::shared_ptr<const Prefix> prefix, Registry& hives);

// The menu of the prefixes that are gone: every Wine launcher and
// association whose prefix folder is not there, each item's group its
// prefix folder, in the order of the folders.
[[nodiscard]] std::unique_ptr<DesktopMenu> GonePrefixesMenu(std::shared_ptr<const MenuScan> scan);

// How many items GonePrefixesMenu would list. Never fails.
[[nodiscard]] int CountGonePrefixItems(const MenuScan& scan) noexcept;

// Where the backups of the gone prefixes' launchers go:
// <data>/sweep-stale-records/backups.
[[nodiscard]] std::filesystem::path GonePrefixesBackupFolder(const MenuFolders& folders);

// Makes the desktop read its menu and file types again, as installers do:
// update-desktop-database on <data>/applications and update-mime-database
// on <data>/mime, each only when it is installed; never an error when not.
void RefreshDesktopCaches(const MenuFolders& folders) noexcept;

}  // namespace ssr::wine
