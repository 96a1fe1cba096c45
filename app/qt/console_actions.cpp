// What the command line does without a window: listing, removing and restoring records.
#include "console_actions.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "application/appearance.h"
#include "application/form1.h"
#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "catalogue/reg.h"
#include "platform/backup_name.h"
#include "catalogue/target_verdict.h"
#include "console_desktop.h"
#include "platform/wine/backups/backups.h"
#include "platform/wine/discovery/prefix_discovery.h"
#include "platform/wine/wine_registry.h"
#include "prefix_chooser.h"

namespace ssr {

namespace fs = std::filesystem;

namespace {

constexpr char kProgram[] = "sweep-stale-records: ";

// One record as the command line prints it.
struct Record {
    std::string prefix;
    std::string prefix_title;
    std::string name;
    std::string location;
    std::string key;
    std::string key_path;
    std::string command;
    std::string answer;  // stale, live or cannot tell
    std::string reason;
    int row = 0;
};

// What Suggest says of a row, and why: its own verdict on the row's target,
// so that a row it checked is stale and no other is.
std::pair<std::string, std::string> Answer(Desktop& desktop, const EntryList& list, int row) {
    const TargetVerdict verdict = JudgeTarget(desktop, list.SubItem(row, 2), ViewOfPlace(list.Record(row).place));
    const std::string path = ToUtf8(verdict.path.empty() ? list.SubItem(row, 2) : verdict.path);
    switch (verdict.state) {
        case TargetState::NotFound: return {"stale", "not found: " + path};
        case TargetState::Found: return {"live", "found: " + path};
        case TargetState::CannotTell: break;
    }
    return {"cannot tell", ToUtf8(verdict.reason)};
}

// A prefix to work on, with what its keeper calls it.
struct Target {
    fs::path path;
    std::string name;
};

// One prefix opened as the window opens it, with the window's handlers.
class Session {
public:
    // `scope`: Records for a look that changes nothing.
    Session(const Target& target, const fs::path& home, ReadScope scope)
        : m_prefix(std::make_shared<const wine::Prefix>(target.path)),
          m_registry(m_prefix, scope),
          m_desktop(m_prefix, m_registry),
          m_form(m_registry, m_desktop, m_skin),
          m_title(PrefixTitle(target.path, target.name, home).toStdString()) {
        ListUninstallEntries(m_registry, m_form.ListView1(), m_desktop);
    }

    [[nodiscard]] EntryList& List() { return m_form.ListView1(); }
    [[nodiscard]] const wine::Prefix& Prefix() const { return *m_prefix; }
    [[nodiscard]] ConsoleDesktop& Desktop() { return m_desktop; }
    void Suggest() { m_form.PushButton3_Click(); }
    void Remove() { m_form.PushButton2_Click(); }

    enum class Verdict { Judged, Left };
    // `verdict`: Left when only the record's names are wanted, which needs no file test.
    [[nodiscard]] Record RecordOf(int row, Verdict verdict = Verdict::Judged) {
        const EntryList& list = List();
        Record record;
        record.prefix = m_prefix->path().string();
        record.prefix_title = m_title;
        record.name = ToUtf8(list.ItemText(row));
        const RecordKey& key = list.Record(row);
        record.location = ToUtf8(key.place.location);
        record.key = ToUtf8(key.name);
        record.key_path = ToUtf8(FullKeyPath(key, m_registry.has_32bit_view()));
        record.command = ToUtf8(list.Command(row));
        if (verdict == Verdict::Judged) std::tie(record.answer, record.reason) = Answer(m_desktop, list, row);
        record.row = row;
        return record;
    }

    // Whether the hives are still the files the listing was made from.
    [[nodiscard]] bool Unchanged() const {
        const std::optional<WriteFailure> failure = m_registry.read_failure();
        return m_registry.unchanged_since_read() && !(failure && failure->kind == WriteFailureKind::Changing);
    }
    [[nodiscard]] bool has_32bit_view() const { return m_registry.has_32bit_view(); }

    // Every report a handler made, to standard error; true when there was
    // one. The listing passes over a place it cannot open, as the window
    // does; here a registry that cannot be read is said, since a script would
    // take it for one without records.
    bool Report(std::ostream& err) {
        for (const std::string& message : m_desktop.Messages()) err << kProgram << m_prefix->path().string() << ": " << message << '\n';
        const bool readable = UninstallPlacesReadable(m_registry);
        if (!readable) {
            const std::optional<WriteFailure> failure = m_registry.read_failure();
            err << kProgram << "the registry of " << m_prefix->path().string() << " cannot be read";
            if (failure && failure->kind == WriteFailureKind::Changing)
                err << ": " << ToUtf8(failure->file) << " was being changed by another program each time it was read";
            else if (failure && failure->kind == WriteFailureKind::ReadOnly)
                err << ": " << ToUtf8(failure->file) << " is not yours to read";
            else if (failure)
                err << ": " << ToUtf8(failure->file) << " is damaged or not a registry file";
            err << '\n';
        }
        return !m_desktop.Messages().empty() || !readable;
    }

private:
    std::shared_ptr<const wine::Prefix> m_prefix;
    WinePrefixRegistry m_registry;
    ConsoleDesktop m_desktop;
    NullSkinEngine m_skin;
    Form1 m_form;
    std::string m_title;
};

// A prefix looked at, with `work` done on it, from files that stayed as they
// were read throughout: a file another program rewrites in place may have
// been read cut short. Read again when one changed; `changing` says it never
// held still.
struct Look {
    std::unique_ptr<Session> session;
    bool changing = false;
};
template <class Work>
Look LookAt(const Target& target, const fs::path& home, ReadScope scope, Work&& work) {
    Look look;
    for (int attempt = 0; attempt < 3; ++attempt) {
        look.session = std::make_unique<Session>(target, home, scope);
        work(*look.session);
        if (look.session->Unchanged()) return look;
    }
    look.changing = true;
    return look;
}

void SayChanging(std::ostream& err, const fs::path& prefix) {
    err << kProgram << "the registry of " << prefix.string()
        << " was being changed by another program each time it was read; nothing is reported from it. "
           "Close that program, then try again\n";
}

std::string JsonText(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': json += "\\\""; break;
            case '\\': json += "\\\\"; break;
            case '\n': json += "\\n"; break;
            case '\r': json += "\\r"; break;
            case '\t': json += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    json += escaped;
                } else {
                    json += c;
                }
        }
    }
    return json + "\"";
}

std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Rows of cells in aligned columns, two blanks apart; the last column is not padded.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    if (rows.empty()) return;
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - Width(row[c]) + 2, ' ');
        }
        out << line << '\n';
    }
}

void PrintRecords(std::ostream& out, const std::vector<Record>& records, bool json, bool with_prefix) {
    if (json) {
        out << "[";
        for (std::size_t i = 0; i < records.size(); ++i) {
            const Record& r = records[i];
            out << (i ? ",\n " : "\n ") << "{\"prefix\": " << JsonText(r.prefix) << ", \"prefix_name\": " << JsonText(r.prefix_title)
                << ", \"name\": " << JsonText(r.name) << ", \"location\": " << JsonText(r.location)
                << ", \"key\": " << JsonText(r.key) << ", \"key_path\": " << JsonText(r.key_path)
                << ", \"command\": " << JsonText(r.command) << ", \"suggest\": " << JsonText(r.answer)
                << ", \"reason\": " << JsonText(r.reason) << "}";
        }
        out << (records.empty() ? "]\n" : "\n]\n");
        return;
    }
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header{"NAME", "LOCATION", "KEY", "SUGGEST", "REASON", "COMMAND"};
    if (with_prefix) header.insert(header.begin(), "PREFIX");
    rows.push_back(header);
    for (const Record& r : records) {
        std::vector<std::string> row{r.name, r.location, r.key, r.answer, r.reason, r.command};
        if (with_prefix) row.insert(row.begin(), r.prefix_title);
        rows.push_back(std::move(row));
    }
    PrintTable(out, rows);
}

// A key as the command line names it, compared without regard to case:
// its name, or its whole path with the root written out or abbreviated.
Text KeyText(const std::string& key) {
    Text text = LowerCase(FromUtf8(key));
    for (const auto& [abbreviation, root] : {std::pair<TextView, TextView>{u"hklm\\", u"hkey_local_machine\\"},
                                             std::pair<TextView, TextView>{u"hkcu\\", u"hkey_current_user\\"}})
        if (TextView(text).starts_with(abbreviation)) text = Text(root) + text.substr(abbreviation.size());
    return text;
}

// The prefixes an action runs on; empty with the reason said on `err`.
std::vector<Target> Prefixes(const CommandLineOptions& options, const fs::path& home, const char* wineprefix,
                             std::ostream& err) {
    if (options.all) {
        std::vector<Target> all;
        std::vector<std::string> notes;
        for (wine::FoundPrefix& found : wine::DiscoverPrefixes(home, &notes)) all.push_back({found.path, std::move(found.name)});
        for (const std::string& note : notes) err << kProgram << note << '\n';
        return all;
    }
    const wine::PrefixRequest request = wine::RequestedPrefix(options.prefix, wineprefix, home);
    fs::path folder = wine::PrefixFolder(request.path);
    if (!wine::IsPrefix(folder)) {
        err << kProgram << folder.string() << " is not a Wine prefix: it holds no system.reg\n";
        return {};
    }
    std::error_code error;
    if (const fs::path absolute = fs::absolute(folder, error); !error) folder = absolute.lexically_normal();
    if (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
    return {{folder, wine::PrefixName(folder, home)}};
}

int ListRecords(const CommandLineOptions& options, const std::vector<Target>& prefixes, const fs::path& home,
                std::ostream& out, std::ostream& err) {
    // Each prefix is looked at on its own, by as many threads as there are
    // processors (a Steam library holds hundreds); the output keeps the
    // prefixes' order.
    struct Listed {
        std::vector<Record> records;
        std::ostringstream reports;
        bool reported = false;
    };
    std::vector<Listed> looks(prefixes.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < prefixes.size(); i = next++) {
            Listed& listed = looks[i];
            Look look = LookAt(prefixes[i], home, ReadScope::Records, [&](Session& session) {
                listed.records.clear();
                session.Suggest();
                for (int row = 1; row <= session.List().Count(); ++row)
                    if (options.action == CommandLineOptions::Action::List || session.List().Checked(row))
                        listed.records.push_back(session.RecordOf(row));
            });
            if (look.changing) {
                listed.records.clear();
                SayChanging(listed.reports, prefixes[i].path);
                listed.reported = true;
                continue;
            }
            listed.reported = look.session->Report(listed.reports);
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(prefixes.size(), std::max(1U, std::thread::hardware_concurrency())) - (prefixes.empty() ? 0 : 1);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();

    std::vector<Record> records;
    bool reported = false;
    for (Listed& look : looks) {
        std::move(look.records.begin(), look.records.end(), std::back_inserter(records));
        err << look.reports.str();
        reported |= look.reported;
    }
    PrintRecords(out, records, options.json, options.all);
    return reported ? kExitFailure : kExitOk;
}

// Checks the rows `options` names: the keys given, or what Suggest checks.
// The keys are found in one pass over the list, by name and by path.
bool CheckRequested(const CommandLineOptions& options, Session& session, std::ostream& err) {
    EntryList& list = session.List();
    if (options.action == CommandLineOptions::Action::RemoveStale) {
        session.Suggest();
        return true;
    }
    std::unordered_map<Text, std::vector<int>> rows_by_key;
    const bool has_32bit_view = session.has_32bit_view();
    for (int row = 1; row <= list.Count(); ++row) {
        const RecordKey& key = list.Record(row);
        rows_by_key[LowerCase(key.name)].push_back(row);
        const Text path = LowerCase(FullKeyPath(key, has_32bit_view));
        if (path != LowerCase(key.name)) rows_by_key[path].push_back(row);
    }
    std::vector<int> rows;
    for (const std::string& key : options.keys) {
        const auto found = rows_by_key.find(KeyText(key));
        if (found == rows_by_key.end()) {
            err << kProgram << "no record " << key << " is listed in " << session.Prefix().path().string()
                << "; nothing was removed\n";
            return false;
        }
        const std::vector<int>& matches = found->second;
        if (matches.size() > 1) {
            err << kProgram << key << " names records in more than one place; name one by its path:";
            for (const int row : matches) err << ' ' << session.RecordOf(row, Session::Verdict::Left).key_path;
            err << "; nothing was removed\n";
            return false;
        }
        rows.push_back(matches.front());
    }
    for (const int row : rows) list.SetChecked(row, true);
    return true;
}

int RemoveRecords(const CommandLineOptions& options, const std::vector<Target>& prefixes, const fs::path& home,
                  std::ostream& out, std::ostream& err) {
    int status = kExitOk;
    for (const Target& target : prefixes) {
        const fs::path& path = target.path;
        Look look = LookAt(target, home, ReadScope::Whole, [](Session&) {});
        if (look.changing) {
            SayChanging(err, path);
            status = kExitFailure;
            continue;
        }
        Session& session = *look.session;
        if (session.Report(err)) {
            err << kProgram << "the records of " << path.string() << " could not all be read; nothing was removed\n";
            status = kExitFailure;
            continue;
        }
        if (!CheckRequested(options, session, err)) {
            status = kExitFailure;
            continue;
        }
        EntryList& list = session.List();
        std::vector<Record> checked;
        for (int row = 1; row <= list.Count(); ++row)
            if (list.Checked(row)) checked.push_back(session.RecordOf(row, Session::Verdict::Left));
        // With --all, each prefix's lines come under its name.
        if (options.all && !checked.empty()) out << "Prefix: " << path.string() << '\n';
        if (options.dry_run) {
            for (const Record& r : checked) out << "Would remove: " << r.key_path << "  (" << r.name << ")\n";
            if (!checked.empty() && session.Prefix().ServerRunning()) {
                const WriteFailure running{kErrorSharingViolation, WriteFailureKind::ServerRunning,
                                           FromUtf8(session.Prefix().path().string())};
                err << kProgram << ToUtf8(session.Desktop().RegistryWriteAdvice(running, kHkeyLocalMachine)) << '\n';
                status = kExitFailure;
            }
            continue;
        }
        if (checked.empty()) continue;
        session.Remove();
        for (const SavedBackup& backup : session.Desktop().Backups())
            if (backup.saved) out << "Backup: " << ToUtf8(backup.path) << '\n';
        // A row leaves the list only once its key is gone on disk.
        std::vector<std::string> left;
        for (int row = 1; row <= list.Count(); ++row)
            if (list.Checked(row)) left.push_back(ToUtf8(list.Record(row).name) + ToUtf8(list.Record(row).place.location));
        for (const Record& r : checked)
            if (std::find(left.begin(), left.end(), r.key + r.location) == left.end())
                out << "Removed: " << r.key_path << "  (" << r.name << ")\n";
        if (session.Report(err) || !left.empty()) status = kExitFailure;
    }
    return status;
}

int ListBackups(const CommandLineOptions& options, const fs::path& prefix, std::ostream& out) {
    const fs::path folder = wine::BackupFolder(wine::Prefix(prefix));
    struct Backup {
        fs::path path;
        struct timespec changed;
        off_t size;
    };
    std::vector<Backup> backups;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || it->path().extension() != ".reg") continue;
        backups.push_back({it->path(), st.st_mtim, st.st_size});
    }
    std::sort(backups.begin(), backups.end(), [](const Backup& a, const Backup& b) {
        if (a.changed.tv_sec != b.changed.tv_sec) return a.changed.tv_sec > b.changed.tv_sec;
        if (a.changed.tv_nsec != b.changed.tv_nsec) return a.changed.tv_nsec > b.changed.tv_nsec;
        return a.path > b.path;
    });
    const auto when = [](const struct timespec& t) {
        std::tm local{};
        ::localtime_r(&t.tv_sec, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        return std::string(text);
    };
    if (options.json) {
        out << "[";
        for (std::size_t i = 0; i < backups.size(); ++i)
            out << (i ? ",\n " : "\n ") << "{\"path\": " << JsonText(backups[i].path.string())
                << ", \"changed\": " << JsonText(when(backups[i].changed)) << ", \"size\": " << backups[i].size << "}";
        out << (backups.empty() ? "]\n" : "\n]\n");
    } else {
        for (const Backup& b : backups) out << when(b.changed) << "  " << b.path.string() << '\n';
    }
    return kExitOk;
}

int Restore(const CommandLineOptions& options, const fs::path& prefix_path, std::ostream& out, std::ostream& err) {
    const auto prefix = std::make_shared<const wine::Prefix>(prefix_path);
    WinePrefixRegistry registry(prefix);
    ConsoleDesktop desktop(prefix, registry);
    const wine::RestoreReport report =
        wine::RestoreBackup(registry, options.backup, options.force ? wine::RestoreReplace::Yes : wine::RestoreReplace::No,
                            options.dry_run ? wine::RestoreMode::DryRun : wine::RestoreMode::Write);
    using Outcome = wine::RestoredRecord::Outcome;
    const bool refused = !report.refusals.empty() || (!options.dry_run && !report.failed.empty() && !report.written &&
                                                      std::none_of(report.records.begin(), report.records.end(), [](const auto& r) {
                                                          return r.outcome == Outcome::Restored || r.outcome == Outcome::Replaced;
                                                      }));
    bool other_contents = false;
    for (const wine::RestoredRecord& record : report.records) {
        const char* said = "Not restored: ";
        switch (record.outcome) {
        case Outcome::AlreadyThere: said = "Already there: "; break;
        case Outcome::OtherContents:
            said = "There with other contents: ";
            other_contents = true;
            break;
        case Outcome::Restored: said = options.dry_run ? "Would restore: " : refused ? "Not restored: " : "Restored: "; break;
        case Outcome::Replaced: said = options.dry_run ? "Would replace: " : refused ? "Not restored: " : "Replaced: "; break;
        case Outcome::NotWritten: break;
        }
        out << said << ToUtf8(record.path) << '\n';
    }
    if (!report.refusals.empty()) {
        err << kProgram << options.backup.string() << (options.dry_run ? " would not be restored" : " was not restored; nothing was written")
            << ":\n";
        for (const std::string& refusal : report.refusals) err << "  " << refusal << '\n';
        if (other_contents) err << kProgram << "--force replaces the records there with the backup's\n";
    }
    for (const auto& [root, failure] : report.failed) err << kProgram << ToUtf8(desktop.RegistryWriteAdvice(failure, root)) << '\n';
    return report.ok() ? kExitOk : kExitFailure;
}

}  // namespace

int RunConsoleAction(const CommandLineOptions& options, const fs::path& home, const char* wineprefix,
                     std::ostream& out, std::ostream& err) noexcept {
    try {
        const std::vector<Target> prefixes = Prefixes(options, home, wineprefix, err);
        if (prefixes.empty() && !options.all) return kExitFailure;
        // What a killed run left in the prefix goes at the next start on it
        // (not on every prefix --all only looks at).
        if (!options.all) wine::RemoveLeftovers(wine::Prefix(prefixes.front().path));
        using Action = CommandLineOptions::Action;
        switch (options.action) {
            case Action::List:
            case Action::Stale: return ListRecords(options, prefixes, home, out, err);
            case Action::Remove:
            case Action::RemoveStale: return RemoveRecords(options, prefixes, home, out, err);
            case Action::Backups: return ListBackups(options, prefixes.front().path, out);
            case Action::Restore: return Restore(options, prefixes.front().path, out, err);
            default: break;
        }
        return kExitUsage;
    } catch (const std::exception& failure) {
        err << kProgram << failure.what() << '\n';
        return kExitFailure;
    } catch (...) {
        err << kProgram << "failed\n";
        return kExitFailure;
    }
}

}  // namespace ssr
