#pragma once
// How the command line says what its actions found and did: aligned text
// or JSON on standard output, one line per problem on standard error.

#include <iosfwd>
#include <string>
#include <vector>

#include "linux_prefix.h"

namespace ssr {

inline constexpr char kProgramPrefix[] = "sweep-stale-records: ";

// One record as the command line names it.
struct ListedRecord {
    std::string prefix;        // the prefix's folder
    std::string prefix_title;  // as every action names the prefix
    std::string name;
    std::string location;
    std::string key;
    std::string key_path;
    std::string command;
    std::string answer;  // stale, live or cannot tell; empty when not judged
    std::string reason;
};

// What a removal in one prefix did.
struct Removal {
    std::string prefix_title;
    std::vector<ListedRecord> chosen;   // the records it was to remove
    std::vector<ListedRecord> removed;  // those whose removal is on disk
    std::vector<std::string> backups;   // the backup files written
    bool dry_run = false;
};

// Lines on standard error, each after the program's name.
void PrintProblems(std::ostream& err, const std::vector<std::string>& problems);
void PrintRecords(std::ostream& out, const std::vector<ListedRecord>& records, bool json, bool with_prefix);
// With `with_prefix`, under a line that names the prefix.
void PrintRemoval(std::ostream& out, const Removal& removal, bool with_prefix);
void PrintBackups(std::ostream& out, const std::vector<BackupListing>& backups, bool json);
// Each record's outcome on `out`, the refusals and failures on `err`.
void PrintRestore(std::ostream& out, std::ostream& err, const RestoreOutcome& outcome, const std::string& file,
                  bool dry_run);

}  // namespace ssr
