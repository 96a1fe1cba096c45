#pragma once
// The desktop's application menu, as far as it holds launchers for the
// programs of the registry the window shows: on Linux, the launchers and
// file associations Wine wrote for a prefix's Windows programs. The list
// shows them after the records, and Suggest, Remove and the backup treat
// them by the records' rules. A desktop without such a menu has none.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

// One launcher or file association.
struct MenuItem {
    Text id;       // its file's full path, which names it in every later call
    Text name;     // its Name, in the user's language where the file has one
    Text command;  // its Exec line as written
    // For the menu of prefixes that are gone: the prefix folder it belongs
    // to (rows are grouped by it); empty otherwise.
    Text group;
};

// What the menu says of an item. JudgeProgram leaves the verdict to the
// one that judges a record's program, on `program`, as the record's own
// target would be judged (its short names, references and drives).
enum class MenuItemState { Stale, Live, CannotTell, JudgeProgram };

struct MenuItemVerdict {
    MenuItemState state = MenuItemState::CannotTell;
    // Stale: what is gone ("prefix gone: /home/u/Games/x"); Live: what is
    // there; CannotTell: why not, in a few words for the user.
    Text words;
    Text program;  // JudgeProgram: a Windows path, or a command line starting with one
};

// A registry value, or a whole key, that belongs to an item being removed
// (Wine's own list of the files it wrote, its record of an association):
// backed up and deleted with the click's records, in the same durable write.
struct MenuRegistryEntry {
    Text item;  // the id of the item it belongs to
    RegHandle root = kHkeyCurrentUser;
    Text key;         // below the root; the current user's keys have one view
    Text value_name;  // the value; ignored for a whole key
    bool whole_key = false;
};

// What removing some items takes away, read for the backup before anything goes.
struct MenuRemoval {
    std::vector<MenuRegistryEntry> registry;
    // Every file that goes, with its path, mode and exact bytes, as lines of
    // the backup file (each a comment for the registry editor, CR LF after it).
    Text backup_lines;
    int file_count = 0;
    // When a file could not be read for the backup: its path and why. Then
    // nothing of the menu may be removed.
    Text failed_path;
    Text failure;
};

// What became of one item after the removal.
struct MenuItemOutcome {
    Text id;
    bool removed = false;
    Text advice;  // why it stays and what to do, in words for the user; empty when removed
};

class DesktopMenu {
public:
    virtual ~DesktopMenu() = default;

    // The items, in the order the list shows them. Never fails: what cannot be read is passed over.
    [[nodiscard]] virtual std::vector<MenuItem> Items() noexcept = 0;
    // The verdict on the item `id` at this moment. Never fails.
    [[nodiscard]] virtual MenuItemVerdict Judge(TextView id) noexcept = 0;
    // Reads everything that removing the items `ids` takes away: each
    // launcher and what belonged to it alone. The menu keeps that plan for
    // RemoveFiles. Never fails.
    [[nodiscard]] virtual MenuRemoval PrepareRemoval(std::span<const Text> ids) noexcept = 0;
    // Deletes the files of the prepared items `ids` (those whose registry
    // entries are gone for good, or that had none), only as the plan read
    // them: a file changed since is left. Then refreshes the desktop's
    // caches. One outcome per id. Never fails.
    [[nodiscard]] virtual std::vector<MenuItemOutcome> RemoveFiles(std::span<const Text> ids) noexcept = 0;
};

}  // namespace ssr
