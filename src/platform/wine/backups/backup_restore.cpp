// Putting a backup's records back into a prefix's hives through the store.
#include "platform/wine/backups/backup_restore.h"

#include <algorithm>
#include <map>
#include <optional>

#include "platform/wine/backups/reg_import.h"
#include "platform/wine/hive/reg_file.h"

namespace ssr::wine {

namespace fs = std::filesystem;

namespace {

// Where records are kept, as paths below the root.
constexpr TextView kUninstallParts[] = {u"Software", u"Microsoft", u"Windows", u"CurrentVersion", u"Uninstall"};
constexpr TextView kUninstall32Parts[] = {u"Software", u"Wow6432Node", u"Microsoft", u"Windows", u"CurrentVersion",
                                          u"Uninstall"};

// A refusal's list of lines stops after this many; the rest are counted.
constexpr std::size_t kRefusalsShown = 20;

std::string Shown(TextView text) { return "\"" + ToUtf8(text) + "\""; }

const char16_t* RootName(RegHandle root) {
    return root == kHkeyCurrentUser ? u"HKEY_CURRENT_USER" : u"HKEY_LOCAL_MACHINE";
}

// How many of `parts` spell `place`, compared as the registry compares names.
bool StartsWithPlace(const std::vector<TextView>& parts, std::span<const TextView> place) {
    if (parts.size() < place.size()) return false;
    for (std::size_t i = 0; i < place.size(); ++i)
        if (CompareNames(parts[i], place[i]) != 0) return false;
    return true;
}

// The keys and values of a file, gathered into records as the reader gives them.
class RecordGatherer final : public ImportSink {
public:
    explicit RecordGatherer(bool has_32bit_view) : m_has_32bit_view(has_32bit_view) {}

    void Key(std::size_t line, ImportRoot root, TextView path, TextView shown) override {
        m_key = nullptr;
        m_uninstall_key = false;
        m_key_shown = Text(shown);
        const std::vector<TextView> parts = SplitPath(path);
        const bool machine = root == ImportRoot::LocalMachine;
        if (!machine && root != ImportRoot::CurrentUser) return NotARecord(line, shown);
        std::size_t place = 0;
        if (StartsWithPlace(parts, kUninstallParts)) {
            place = std::size(kUninstallParts);
        } else if (machine && StartsWithPlace(parts, kUninstall32Parts)) {
            if (!m_has_32bit_view) {
                Refuse(line, Shown(shown) +
                                 " is a record of the 32-bit view, which this 32-bit prefix does not have");
                return;
            }
            place = std::size(kUninstall32Parts);
        } else {
            return NotARecord(line, shown);
        }
        // A whole export of an Uninstall key starts with its section, which
        // must stay empty: the key itself is no record.
        if (parts.size() == place) {
            m_uninstall_key = true;
            return;
        }
        const RegHandle hive = machine ? kHkeyLocalMachine : kHkeyCurrentUser;
        Text record_path;
        for (std::size_t i = 0; i <= place; ++i) {
            if (i > 0) record_path += u'\\';
            record_path += parts[i];
        }
        const std::pair<RegHandle, Text> id{hive, LowerCase(record_path)};
        auto [at, fresh] = m_record_index.try_emplace(id, m_records.size());
        if (fresh) {
            BackupRecord record;
            record.root = hive;
            record.path = record_path;
            record.shown = Text(RootName(hive)) + u"\\" + record_path;
            m_records.push_back(std::move(record));
            m_key_index.emplace_back();
        }
        const std::size_t r = at->second;
        // The record's key and every key between it and this one exist once
        // this one does, as Wine creates them.
        Text key_path = m_records[r].path;
        for (std::size_t i = place + 1; i <= parts.size(); ++i) {
            if (i > place + 1) (key_path += u'\\') += parts[i - 1];
            auto [key_at, new_key] = m_key_index[r].try_emplace(LowerCase(key_path), m_records[r].keys.size());
            if (new_key) m_records[r].keys.push_back(NewKey{key_path, {}});
            if (i == parts.size()) m_key = &m_records[r].keys[key_at->second];
        }
    }

    void Value(std::size_t line, TextView name, std::uint32_t type, std::vector<std::uint8_t>& data) override {
        if (m_uninstall_key) {
            Refuse(line, "it gives the key " + Shown(m_key_shown) + " a value, and only records below it are restored");
            return;
        }
        if (!m_key) return;  // refused at its key's line
        if (type == kRegLink) {
            Refuse(line, "the value " + Shown(name) + " of " + Shown(m_key_shown) +
                             " makes a registry link (REG_LINK), which is never restored");
            return;
        }
        // As RegSetValueEx: a value given again replaces the first, in its place.
        for (RegValue& value : m_key->values) {
            if (CompareNames(value.name, name) != 0) continue;
            value.type = type;
            value.data.swap(data);
            return;
        }
        m_key->values.push_back(RegValue{Text(name), type, {}});
        m_key->values.back().data.swap(data);
    }

    void Rejected(std::size_t line, std::string why) override { Refuse(line, std::move(why)); }

    BackupContents Take(std::string problem) {
        BackupContents contents;
        if (!problem.empty()) {
            contents.refusals.push_back(std::move(problem));
            return contents;
        }
        if (m_refusals > kRefusalsShown)
            m_lines.push_back("and " + std::to_string(m_refusals - kRefusalsShown) + " more lines like these");
        contents.refusals = std::move(m_lines);
        if (contents.refusals.empty() && m_records.empty()) contents.refusals.push_back("it holds no records");
        if (!contents.refusals.empty()) return contents;
        // Parents before children, and values, as wineserver orders them.
        for (BackupRecord& record : m_records) {
            for (NewKey& key : record.keys)
                std::stable_sort(key.values.begin(), key.values.end(),
                                 [](const RegValue& a, const RegValue& b) { return CompareNames(a.name, b.name) < 0; });
            std::stable_sort(record.keys.begin(), record.keys.end(), [](const NewKey& a, const NewKey& b) {
                const std::vector<TextView> x = SplitPath(a.path);
                const std::vector<TextView> y = SplitPath(b.path);
                for (std::size_t i = 0; i < x.size() && i < y.size(); ++i)
                    if (const int order = CompareNames(x[i], y[i]); order != 0) return order < 0;
                return x.size() < y.size();
            });
        }
        contents.records = std::move(m_records);
        return contents;
    }

private:
    void NotARecord(std::size_t line, TextView shown) {
        Refuse(line, Shown(shown) +
                         " is not a record of the list of installed programs (a key below "
                         "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall)");
    }
    void Refuse(std::size_t line, std::string why) {
        if (++m_refusals <= kRefusalsShown) m_lines.push_back("line " + std::to_string(line) + ": " + std::move(why));
    }

    bool m_has_32bit_view;
    std::vector<BackupRecord> m_records;
    std::map<std::pair<RegHandle, Text>, std::size_t> m_record_index;
    std::vector<std::map<Text, std::size_t>> m_key_index;  // per record: lower-cased key path -> its key
    NewKey* m_key = nullptr;  // the key values go to; null below a refused key line
    bool m_uninstall_key = false;
    Text m_key_shown;
    std::vector<std::string> m_lines;
    std::size_t m_refusals = 0;
};

}  // namespace

BackupContents ReadBackupFile(const fs::path& backup, bool has_32bit_view) {
    RecordGatherer gatherer(has_32bit_view);
    std::string problem = ReadImportFile(backup, gatherer);
    return gatherer.Take(std::move(problem));
}

BackupContents ReadBackupBytes(std::string_view bytes, bool has_32bit_view) {
    RecordGatherer gatherer(has_32bit_view);
    std::string problem = ReadImportBytes(bytes, gatherer);
    return gatherer.Take(std::move(problem));
}

RestoreReport RestoreBackup(WinePrefixRegistry& registry, const fs::path& backup, RestoreReplace replace,
                            RestoreMode mode) {
    RestoreReport report;
    BackupContents contents = ReadBackupFile(backup, registry.has_32bit_view());
    if (!contents.refusals.empty()) {
        report.refusals = std::move(contents.refusals);
        return report;
    }
    // While a wineserver runs, the files are not the registry: what is there
    // cannot be told, and the server would write its own copy over ours.
    if (registry.prefix().ServerRunning()) {
        report.failed.emplace_back(kHkeyLocalMachine, WriteFailure{kErrorSharingViolation, WriteFailureKind::ServerRunning,
                                                                   FromUtf8(registry.prefix().path().string())});
        return report;
    }
    using Staging = WinePrefixRegistry::RecordStaging;
    std::size_t other = 0;
    for (BackupRecord& record : contents.records) {
        Staging staging = Staging::Added;
        const long status =
            registry.stage_record(record.root, record.path, std::move(record.keys),
                                  replace == RestoreReplace::Yes ? WinePrefixRegistry::Replace::Yes : WinePrefixRegistry::Replace::No,
                                  staging);
        if (status != kErrorSuccess) {
            // The file cannot be written at all: nothing is.
            const auto known = std::find_if(report.failed.begin(), report.failed.end(),
                                            [&record](const auto& failure) { return failure.first == record.root; });
            if (known == report.failed.end()) report.failed.emplace_back(record.root, registry.failure_detail(status));
            report.records.push_back({record.shown, record.root, RestoredRecord::Outcome::NotWritten});
            continue;
        }
        RestoredRecord::Outcome outcome = RestoredRecord::Outcome::Restored;
        switch (staging) {
        case Staging::Added: break;
        case Staging::Replacing: outcome = RestoredRecord::Outcome::Replaced; break;
        case Staging::AlreadyThere: outcome = RestoredRecord::Outcome::AlreadyThere; break;
        case Staging::OtherContents:
            outcome = RestoredRecord::Outcome::OtherContents;
            ++other;
            break;
        case Staging::BelowLink:
            report.refusals.push_back(Shown(record.shown) +
                                      " lies below a registry link of the prefix, and nothing is written below a link");
            outcome = RestoredRecord::Outcome::NotWritten;
            break;
        }
        report.records.push_back({record.shown, record.root, outcome});
    }
    if (other > 0)
        report.refusals.push_back(std::to_string(other) + (other == 1 ? " record is" : " records are") +
                                  " there with other contents");
    if (!report.refusals.empty() || !report.failed.empty()) return report;
    if (mode == RestoreMode::DryRun) return report;

    const CommitResult result = registry.commit();
    report.failed = result.failed;
    for (RestoredRecord& record : report.records)
        if (result.FailureOf(record.root) &&
            (record.outcome == RestoredRecord::Outcome::Restored || record.outcome == RestoredRecord::Outcome::Replaced))
            record.outcome = RestoredRecord::Outcome::NotWritten;
    report.written = result.ok();
    return report;
}

}  // namespace ssr::wine
