#pragma once
// Puts the records of a backup file (the registry editor's import format
// that Remove writes) back into a Wine prefix's system.reg and user.reg
// directly, without Wine: under the writers' lock, never while a wineserver
// runs for the prefix, with one durable write of each file that changes.
//
// A record (a key of the file with no ancestor in it, with everything the
// file holds below it) that is already there with the same contents is left
// alone; one that is there with other contents is refused, and then nothing
// at all is written, unless `force` replaces it.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/wine/posix_file.h"
#include "platform/wine/wine_prefix.h"

namespace ssr::wine {

struct RestoredRecord {
    enum class Outcome { Restored, AlreadyThere, Replaced, Refused };
    Text path;  // "HKEY_LOCAL_MACHINE\Software\...", as the file names it
    Outcome outcome = Outcome::Restored;
};

struct RestoreReport {
    bool written = false;    // false after a refusal, a failure or a dry run
    std::string problem;     // why nothing was written, in words for the user; empty when all went well
    std::vector<RestoredRecord> records;
};

struct RestoreOptions {
    bool force = false;    // replace records that are there with other contents
    bool dry_run = false;  // check everything, write nothing
    WriteFaultHook fault;  // tests only
};

[[nodiscard]] RestoreReport RestoreBackup(const Prefix& prefix, const std::filesystem::path& backup,
                                          const RestoreOptions& options);

}  // namespace ssr::wine
