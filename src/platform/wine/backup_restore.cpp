// Putting a backup's records back into a prefix's hives without Wine.
#include "platform/wine/backup_restore.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "platform/registry.h"
#include "platform/wine/reg_file.h"
#include "platform/wine/server_lock.h"

namespace ssr::wine {

namespace fs = std::filesystem;

namespace {

constexpr int kMachine = 0;
constexpr int kUser = 1;
constexpr const char* kHiveFiles[] = {"system.reg", "user.reg"};
constexpr std::uint32_t kRegLink = 6;

// One key of the backup.
struct ImportedKey {
    int hive = kMachine;
    Text path;   // below the hive's root
    Text shown;  // as the file names it
    std::vector<RegValue> values;
    [[nodiscard]] bool IsLink() const {
        return values.size() == 1 && values.front().type == kRegLink &&
               CompareNames(values.front().name, u"SymbolicLinkValue") == 0;
    }
};

// The file as text: UTF-16LE after its byte-order mark, else UTF-8.
Text FileText(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        Text text((bytes.size() - 2) / 2, u'\0');
        std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
        return text;
    }
    return FromUtf8(bytes.starts_with("\xEF\xBB\xBF") ? std::string_view(bytes).substr(3) : std::string_view(bytes));
}

// A quoted text of the import format ("..." with \\ and \"), from just after
// its opening quote; the position after the closing one, or none.
std::optional<std::size_t> Quoted(TextView line, std::size_t at, Text& out) {
    out.clear();
    for (; at < line.size(); ++at) {
        if (line[at] == u'"') return at + 1;
        if (line[at] == u'\\' && at + 1 < line.size()) ++at;
        out += line[at];
    }
    return std::nullopt;
}

bool HexBytes(TextView text, std::vector<std::uint8_t>& out) {
    out.clear();
    int digits = 0;
    unsigned value = 0;
    for (const char16_t c : text) {
        if (c == u',' || c == u' ' || c == u'\t') {
            if (digits) out.push_back(static_cast<std::uint8_t>(value));
            if (digits == 0 && c == u',') return false;
            digits = 0;
            value = 0;
            continue;
        }
        const int d = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
        if (d < 0 || ++digits > 2) return false;
        value = value * 16 + static_cast<unsigned>(d);
    }
    if (digits) out.push_back(static_cast<std::uint8_t>(value));
    return true;
}

// `name=data` of one value line; false when the line is not one.
bool ReadValue(TextView line, RegValue& value) {
    std::size_t at = 0;
    if (line.starts_with(u"@=")) {
        value.name.clear();
        at = 2;
    } else if (line.starts_with(u"\"")) {
        const auto end = Quoted(line, 1, value.name);
        if (!end || *end >= line.size() || line[*end] != u'=') return false;
        at = *end + 1;
    } else {
        return false;
    }
    const TextView data = line.substr(at);
    value.data.clear();
    if (data.starts_with(u"\"")) {
        Text text;
        const auto end = Quoted(data, 1, text);
        if (!end || *end != data.size()) return false;
        value.type = 1;
        text += u'\0';
        value.data.resize(text.size() * 2);
        std::memcpy(value.data.data(), text.data(), value.data.size());
        return true;
    }
    if (data.starts_with(u"dword:") && data.size() == 14) {
        std::vector<std::uint8_t> bytes;
        Text spaced;
        for (std::size_t i = 6; i < 14; i += 2) (spaced += data.substr(i, 2)) += u',';
        if (!HexBytes(spaced.substr(0, spaced.size() - 1), bytes) || bytes.size() != 4) return false;
        value.type = 4;
        value.data.assign(bytes.rbegin(), bytes.rend());
        return true;
    }
    std::size_t colon = 0;
    if (data.starts_with(u"hex:")) {
        value.type = 3;
        colon = 3;
    } else if (data.starts_with(u"hex(") && (colon = data.find(u"):")) != TextView::npos) {
        std::vector<std::uint8_t> ignored;
        value.type = 0;
        for (std::size_t i = 4; i < colon; ++i) {
            const char16_t c = data[i];
            const int d = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
            if (d < 0 || i > 11) return false;
            value.type = value.type * 16 + static_cast<std::uint32_t>(d);
        }
        colon += 1;
    } else {
        return false;
    }
    return HexBytes(data.substr(colon + 1), value.data);
}

// The keys of a backup file, or the reason it is not one this can put back.
std::vector<ImportedKey> ReadBackup(TextView text, std::string& problem) {
    std::vector<ImportedKey> keys;
    std::vector<Text> lines;
    Text pending;
    for (std::size_t begin = 0; begin <= text.size();) {
        std::size_t end = text.find(u'\n', begin);
        if (end == TextView::npos) end = text.size();
        TextView line = text.substr(begin, end - begin);
        begin = end + 1;
        while (!line.empty() && (line.back() == u'\r' || line.back() == u' ')) line.remove_suffix(1);
        if (!pending.empty()) while (!line.empty() && (line.front() == u' ' || line.front() == u'\t')) line.remove_prefix(1);
        // The editor continues long hex data on the next line after a backslash.
        if (!line.empty() && line.back() == u'\\' && (pending.size() + line.size()) > 0 &&
            (line.find(u"=hex") != TextView::npos || !pending.empty())) {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        pending += line;
        lines.push_back(std::move(pending));
        pending.clear();
        if (end == text.size()) break;
    }
    if (lines.empty() || (lines.front() != u"Windows Registry Editor Version 5.00" && lines.front() != u"REGEDIT4")) {
        problem = "it is not a registry file of the editor's import format";
        return {};
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Text& line = lines[i];
        if (line.empty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            if (line.back() != u']' || line.starts_with(u"[-")) {
                problem = "it deletes keys, which a backup never does: " + ToUtf8(line);
                return {};
            }
            const TextView shown = TextView(line).substr(1, line.size() - 2);
            const std::size_t slash = shown.find(u'\\');
            const TextView root = shown.substr(0, slash);
            ImportedKey key;
            if (root == u"HKEY_LOCAL_MACHINE" || root == u"HKLM") key.hive = kMachine;
            else if (root == u"HKEY_CURRENT_USER" || root == u"HKCU") key.hive = kUser;
            else {
                problem = "it holds a key of " + ToUtf8(root) + ", where no records are kept";
                return {};
            }
            if (slash == TextView::npos || slash + 1 >= shown.size()) {
                problem = "it names a whole hive: " + ToUtf8(shown);
                return {};
            }
            key.path = Text(shown.substr(slash + 1));
            key.shown = Text(shown);
            keys.push_back(std::move(key));
            continue;
        }
        RegValue value;
        if (keys.empty() || !ReadValue(line, value)) {
            problem = "line " + std::to_string(i + 1) + " is neither a key nor a value: " + ToUtf8(line);
            return {};
        }
        keys.back().values.push_back(std::move(value));
    }
    if (keys.empty()) problem = "it holds no records";
    return keys;
}

Text LowerPath(TextView path) { return LowerCase(path); }

// The value as wineserver writes it after "name=".
std::string ValueData(const RegValue& value) {
    const auto& d = value.data;
    const bool text = (value.type == 1 || value.type == 2) && d.size() >= 2 && d.size() % 2 == 0 &&
                      [&d] {
                          for (std::size_t i = 0; i + 2 < d.size(); i += 2)
                              if (d[i] == 0 && d[i + 1] == 0) return false;
                          return d[d.size() - 2] == 0 && d[d.size() - 1] == 0;
                      }();
    if (text) {
        Text t((d.size() - 2) / 2, u'\0');
        std::memcpy(t.data(), d.data(), t.size() * 2);
        return (value.type == 2 ? "str(2):\"" : "\"") + Escape(t, "\"") + "\"";
    }
    char buffer[32];
    if (value.type == 4 && d.size() == 4) {
        std::snprintf(buffer, sizeof buffer, "dword:%08x",
                      static_cast<unsigned>(d[0] | d[1] << 8 | d[2] << 16 | static_cast<unsigned>(d[3]) << 24));
        return buffer;
    }
    std::string out;
    if (value.type == 3) out = "hex:";
    else {
        std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
        out = buffer;
    }
    for (std::size_t i = 0; i < d.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", static_cast<unsigned>(d[i]));
        out += buffer;
    }
    return out;
}

std::string SectionText(const ImportedKey& key, std::uint64_t seconds, std::uint64_t ticks) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "] %llu\n#time=%llx\n", static_cast<unsigned long long>(seconds),
                  static_cast<unsigned long long>(ticks));
    std::string out = "[" + Escape(key.path, "[]") + stamp;
    if (key.IsLink()) out += "#link\n";
    for (const RegValue& value : key.values)
        out += (value.name.empty() ? std::string("@") : "\"" + Escape(value.name, "\"") + "\"") + "=" + ValueData(value) + "\n";
    return out + "\n";
}

bool SameValues(const std::vector<RegValue>& have, const std::vector<RegValue>& want) {
    if (have.size() != want.size()) return false;
    return std::all_of(want.begin(), want.end(), [&have](const RegValue& w) {
        return std::any_of(have.begin(), have.end(), [&w](const RegValue& h) {
            return CompareNames(h.name, w.name) == 0 && h.type == w.type && h.data == w.data;
        });
    });
}

// Whether the key `node` and everything below it are exactly the backup's
// keys at and below `path`; `seen` counts the keys compared.
bool SameTree(RegFile& file, RegFile::Node* node, const Text& path,
              const std::map<Text, const ImportedKey*>& backup, std::size_t& seen) {
    const auto it = backup.find(LowerPath(path));
    if (it == backup.end() || node->link != it->second->IsLink() || !SameValues(file.Values(node), it->second->values))
        return false;
    ++seen;
    for (RegFile::Node* child : file.Children(node))
        if (!SameTree(file, child, path + u'\\' + child->name, backup, seen)) return false;
    return true;
}

std::string Words(IoError error) {
    switch (error) {
        case IoError::AccessDenied: return "it is read-only or not yours to change";
        case IoError::NoSpace:
        case IoError::TooLarge: return "the disk is full";
        default: return "it could not be written";
    }
}

// One registry file of the prefix with what the restore does to it.
struct HiveWork {
    fs::path path;
    ReadResult read;
    std::unique_ptr<RegFile> file;
    std::vector<const ImportedKey*> inserted;
    bool changes = false;
};

struct CurrentCheck {
    const RegistryWriteLocks* locks;
    const HiveWork* hive;
};

bool StillCurrent(void* context) {
    const auto* check = static_cast<CurrentCheck*>(context);
    const auto now = IdentityOf(check->hive->path);
    return now && *now == check->hive->read.identity && !check->locks->server().ServerOutside();
}

}  // namespace

RestoreReport RestoreBackup(const Prefix& prefix, const fs::path& backup, const RestoreOptions& options) {
    RestoreReport report;
    const ReadResult file = ReadWholeFile(backup);
    if (file.error != IoError::None) {
        report.problem = backup.string() + " cannot be read";
        return report;
    }
    std::string problem;
    const std::vector<ImportedKey> keys = ReadBackup(FileText(file.bytes), problem);
    if (!problem.empty()) {
        report.problem = backup.string() + " cannot be restored: " + problem;
        return report;
    }

    // Held from reading the files to the last rename, as the store's commit
    // holds them: no other writer bases a file on the same old one, and no
    // wineserver loads an old file meanwhile, to write it back later.
    RegistryWriteLocks locks(prefix.path());
    const std::string running = ServerRunningAdvice(prefix.path());
    switch (locks.Acquire(std::chrono::milliseconds(3000))) {
        case RegistryWriteLocks::Refusal::None: break;
        case RegistryWriteLocks::Refusal::OtherWriter:
            report.problem = "another program is writing the registry of " + prefix.path().string() + "; try again";
            return report;
        case RegistryWriteLocks::Refusal::LockNotOurs:
            report.problem = "the lock file " + locks.file().string() + " is not a plain file of yours; remove it, then try again";
            return report;
        case RegistryWriteLocks::Refusal::ServerRunning:
            report.problem = running;
            return report;
        case RegistryWriteLocks::Refusal::System:
            report.problem = "the registry of " + prefix.path().string() + " cannot be locked for writing: " +
                             SystemErrorText(locks.code());
            return report;
    }
    if (locks.server().ServerOutside()) {
        report.problem = running;
        return report;
    }

    std::map<Text, const ImportedKey*> by_path[2];
    for (const ImportedKey& key : keys) by_path[key.hive][LowerPath(key.path)] = &key;
    // A record is a key of the file with no ancestor in it; the keys below it go with it.
    std::vector<const ImportedKey*> roots[2];
    std::map<Text, std::vector<const ImportedKey*>> record_keys[2];
    for (const ImportedKey& key : keys) {
        const Text lower = LowerPath(key.path);
        Text root = lower;
        for (std::size_t at = lower.find(u'\\'); at != Text::npos; at = lower.find(u'\\', at + 1)) {
            if (by_path[key.hive].count(lower.substr(0, at)) > 0) {
                root = lower.substr(0, at);
                break;
            }
        }
        if (root == lower) roots[key.hive].push_back(&key);
        record_keys[key.hive][root].push_back(&key);
    }
    HiveWork hives[2];
    Architecture architecture = Architecture::Unknown;
    std::size_t refused = 0;
    const auto [seconds, ticks] = HeaderStampsNow();
    for (const int h : {kMachine, kUser}) {
        const bool needed = !by_path[h].empty();
        if (!needed && h == kUser) continue;
        HiveWork& hive = hives[h];
        hive.path = prefix.path() / kHiveFiles[h];
        hive.read = ReadWholeFile(hive.path);
        if (hive.read.error != IoError::None) {
            if (!needed) continue;
            report.problem = hive.path.string() + " cannot be read";
            return report;
        }
        hive.file = RegFile::Parse(std::string(hive.read.bytes), architecture);
        if (h == kMachine && hive.file) architecture = hive.file->architecture() == Architecture::Unknown ? Architecture::Win32 : hive.file->architecture();
        if (!needed) continue;
        if (!hive.file || hive.file->HasNulBytes() || hive.file->HasSectionsBelowLinks()) {
            report.problem = "The file " + hive.path.string() + " is damaged or not a registry file this program can rewrite safely. It was left unchanged.";
            return report;
        }
        if (::access(hive.path.c_str(), W_OK) != 0) {
            report.problem = "The registry file " + hive.path.string() + " is read-only or not yours to change. It was left unchanged.";
            return report;
        }
        RegFile& reg = *hive.file;
        for (const ImportedKey* key : roots[h]) {
            const std::vector<const ImportedKey*>& parts = record_keys[h][LowerPath(key->path)];
            RestoredRecord record{key->shown, RestoredRecord::Outcome::Restored};
            if (RegFile::Node* existing = reg.Find(reg.root(), key->path)) {
                std::size_t seen = 0;
                if (SameTree(reg, existing, key->path, by_path[h], seen) && seen == parts.size()) {
                    record.outcome = RestoredRecord::Outcome::AlreadyThere;
                } else if (options.force) {
                    record.outcome = RestoredRecord::Outcome::Replaced;
                    reg.Stage(existing);
                } else {
                    record.outcome = RestoredRecord::Outcome::Refused;
                    ++refused;
                }
            }
            if (record.outcome == RestoredRecord::Outcome::Restored || record.outcome == RestoredRecord::Outcome::Replaced) {
                hive.inserted.insert(hive.inserted.end(), parts.begin(), parts.end());
                hive.changes = true;
            }
            report.records.push_back(std::move(record));
        }
    }
    if (refused > 0) {
        report.problem = std::to_string(refused) + (refused == 1 ? " record is" : " records are") +
                         " there with other contents; nothing was restored. --force replaces them with the backup's.";
        return report;
    }
    if (options.dry_run) return report;

    // Every file's new bytes are made before the first is written.
    std::string bytes[2];
    for (const int h : {kMachine, kUser}) {
        HiveWork& hive = hives[h];
        if (!hive.changes) continue;
        bytes[h] = hive.file->HasStaged() ? hive.file->WithoutStaged(seconds, ticks).bytes : hive.read.bytes;
        // A blank line between sections, as Wine writes them.
        while (!bytes[h].empty() && !bytes[h].ends_with("\n\n")) bytes[h] += '\n';
        for (const ImportedKey* key : hive.inserted) bytes[h] += SectionText(*key, seconds, ticks);
    }
    for (const int h : {kMachine, kUser}) {
        HiveWork& hive = hives[h];
        if (!hive.changes) continue;
        std::error_code error;
        const fs::path real = fs::canonical(hive.path, error);
        const fs::path target = error ? hive.path : real;
        // With the lock held, no living writer owns a temporary file: any
        // beside the file is a killed writer's, Remove's or an earlier restore's.
        RemoveLeftoverTemporaries(target);
        CurrentCheck check{&locks, &hive};
        const ReplaceOutcome outcome = ReplaceFile(target, bytes[h], hive.read.identity, &StillCurrent, &check, options.fault);
        if (outcome.result == ReplaceResult::Stale) {
            report.problem = locks.server().ServerOutside() ? running : hive.path.string() + " changed while the backup was being restored; try again";
            report.written = h == kUser;
            return report;
        }
        if (outcome.result == ReplaceResult::Failed) {
            report.problem = "The registry file " + hive.path.string() + " was left unchanged: " + Words(outcome.error) + ".";
            report.written = h == kUser;
            return report;
        }
        // A server the lock cannot reach that runs now may have loaded the
        // old file before the rename, and would write it back.
        if (locks.server().ServerOutside()) {
            report.problem = running;
            report.written = h == kUser;
            return report;
        }
    }
    report.written = true;
    return report;
}

}  // namespace ssr::wine
