// libFuzzer target for --restore: whatever import file the backup reader
// accepts, a hive rewritten with its records (replacing those already there,
// as --force does) must, read again as wineserver reads it, hold exactly the
// records the reader gave, and every other key exactly as it was.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wine/backups/backup_restore.h"
#include "platform/wine/hive/reg_file.h"

using ssr::Text;
using ssr::wine::CompareNames;
using ssr::wine::RegFile;

namespace {

void Check(bool ok, unsigned line = __builtin_LINE()) {
    if (ok) return;
    std::fprintf(stderr, "check failed at line %u\n", line);
    std::abort();
}

// A hive with a record in each view, one with a subkey, and keys beside them.
const std::string kMachine =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
    "[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A] 1\n\"DisplayName\"=\"A\"\n\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A\\\\Sub] 1\n\"x\"=dword:00000001\n\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\B] 1\n\"DisplayName\"=\"B\"\n\n"
    "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A] 1\n\"DisplayName\"=\"A32\"\n\n"
    "[Software\\\\Wine] 1\n\"Version\"=\"win10\"\n";
const std::string kUser =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\U] 1\n\"DisplayName\"=\"U\"\n\n"
    "[Environment] 1\n\"TEMP\"=\"C:\\\\temp\"\n";

void Walk(RegFile::Node* node, std::vector<RegFile::Node*>& out) {
    out.push_back(node);
    for (auto* child : node->children) Walk(child, out);
}

bool SameValues(const std::vector<ssr::wine::RegValue>& a, const std::vector<ssr::wine::RegValue>& b) {
    if (a.size() != b.size()) return false;
    for (const auto& x : a) {
        bool found = false;
        for (const auto& y : b) found |= CompareNames(x.name, y.name) == 0 && x.type == y.type && x.data == y.data;
        if (!found) return false;
    }
    return true;
}

// Whether `path` is a record's key or lies below one of `records`.
bool InRecord(const Text& path, const std::vector<const ssr::wine::BackupRecord*>& records) {
    for (const auto* record : records) {
        const Text lower = ssr::LowerCase(path);
        const Text top = ssr::LowerCase(record->path);
        if (lower == top || (lower.size() > top.size() && lower.starts_with(top) && lower[top.size()] == u'\\')) return true;
    }
    return false;
}

void CheckHive(const std::string& base, const std::vector<const ssr::wine::BackupRecord*>& records) {
    if (records.empty()) return;
    auto file = RegFile::Parse(base);
    Check(file != nullptr);
    for (const auto* record : records) {
        if (RegFile::Node* there = file->Find(file->root(), record->path)) file->Stage(there);
        file->StageNew(record->keys);
    }
    const RegFile::Rewrite rewrite = file->WithoutStaged(1700000000, 0x1da0a0b0c0d0e0fULL);
    const auto after = RegFile::Parse(rewrite.bytes);
    Check(after != nullptr);
    Check(!after->HasNulBytes() && !after->HasSectionsBelowLinks());

    // Every record's keys, with exactly their values and nothing else below.
    std::size_t record_keys = 0;
    for (const auto* record : records) {
        for (const ssr::wine::NewKey& key : record->keys) {
            RegFile::Node* node = after->Find(after->root(), key.path);
            Check(node != nullptr && !node->link);
            Check(SameValues(after->Values(node), key.values));
        }
        std::vector<RegFile::Node*> below;
        Walk(after->Find(after->root(), record->path), below);
        Check(below.size() == record->keys.size());
        record_keys += below.size();
    }
    // Every other key as it was, and none new but the records' parents.
    const auto before = RegFile::Parse(base);
    std::vector<RegFile::Node*> old_nodes;
    Walk(before->root(), old_nodes);
    std::size_t kept = 0;
    for (RegFile::Node* node : old_nodes) {
        const Text path = RegFile::PathOf(node);
        if (InRecord(path, records)) continue;
        RegFile::Node* same = after->Find(after->root(), path);
        Check(same != nullptr);
        Check(SameValues(before->Values(node), after->Values(same)));
        ++kept;
    }
    std::vector<RegFile::Node*> new_nodes;
    Walk(after->root(), new_nodes);
    for (RegFile::Node* node : new_nodes) {
        const Text path = RegFile::PathOf(node);
        if (InRecord(path, records) || before->Find(before->root(), path)) continue;
        // Only an Uninstall key, or a key above one, may be new.
        Check(node->children.size() >= 1 && after->Values(node).empty());
    }
    Check(kept + record_keys <= new_nodes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ssr::wine::BackupContents contents = ssr::wine::ReadBackupBytes(bytes, true);
    Check(contents.refusals.empty() != contents.records.empty() || !contents.refusals.empty());
    if (!contents.refusals.empty()) return 0;
    std::vector<const ssr::wine::BackupRecord*> machine;
    std::vector<const ssr::wine::BackupRecord*> user;
    for (const auto& record : contents.records) {
        Check(!record.keys.empty() && ssr::LowerCase(record.keys.front().path) == ssr::LowerCase(record.path));
        for (const auto& key : record.keys)
            for (const auto& value : key.values) Check(value.type != 6 && value.name.find(u'\0') == Text::npos);
        (record.root == ssr::kHkeyCurrentUser ? user : machine).push_back(&record);
    }
    CheckHive(kMachine, machine);
    CheckHive(kUser, user);
    return 0;
}
