#pragma once
// Pieces of the button operations that are useful on their own.

#include <cstdint>
#include <functional>
#include <vector>

#include "catalogue/places.h"
#include "platform/desktop.h"
#include "platform/text.h"

namespace ssr {

class Desktop;
class Registry;

// The help message: four pieces joined by two lone carriage returns.
[[nodiscard]] Text HelpText();

// An uninstall command split into the program and its parameters. A quoted
// first token is the program. Unquoted, the program is the shortest leading
// run of words, ending at a blank, that names an existing file, else the
// first word.
struct CommandLine {
    Text program;
    Text parameters;
};
[[nodiscard]] CommandLine SplitCommandLine(TextView text, const std::function<bool(TextView)>& exists);

// Hands an uninstall command to the shell: the program with its parameters,
// started in the application folder. `ended` hears when it has ended.
ShellStart OpenWithShell(Desktop& desktop, std::intptr_t owner, TextView document, ProgramEnded ended = {});

// The warning when an uninstaller could not be started: the entry's name,
// the command and the reason.
[[nodiscard]] Text UninstallStartFailureMessage(TextView name, TextView command, TextView reason);

// The warning after a removal in which some keys could not be deleted: the
// count, then one paragraph of advice per distinct reason.
[[nodiscard]] Text RemovalFailureMessage(int failed, const std::vector<Text>& advice);

// A checked row as Remove read it: its position and its record.
struct CheckedRecord {
    int row;
    RecordKey record;
};

// Writes one backup file holding the whole subtree of every record's key
// (keys already gone are left out; with none left, no file) through the
// desktop, and names it in `*saved_path`. Empty when it is on disk;
// otherwise the warning to show, and nothing may be deleted.
[[nodiscard]] Text SaveRemovalBackup(Registry& registry, Desktop& desktop, const std::vector<CheckedRecord>& records,
                                     Text* saved_path = nullptr);

// The warnings when the backup cannot be made.
[[nodiscard]] Text BackupWriteFailureMessage(TextView folder, TextView reason);
[[nodiscard]] Text BackupReadFailureMessage(TextView key_path, long status);

}  // namespace ssr
