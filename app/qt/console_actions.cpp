// What the command line does without a window: listing, removing and restoring records.
#include "console_actions.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "application/appearance.h"
#include "application/form1.h"
#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "catalogue/target_verdict.h"
#include "console_desktop.h"
#include "console_output.h"
#include "linux_prefix.h"
#include "platform/wine/backups/backups.h"
#include "platform/wine/wine_registry.h"

namespace ssr {

namespace fs = std::filesystem;

namespace {

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

// One prefix opened as the window opens it, with the window's handlers.
class Session {
public:
    // `scope`: Records for a look that changes nothing.
    Session(const LinuxPrefix& prefix, ReadScope scope)
        : m_prefix(std::make_shared<const wine::Prefix>(prefix.path())),
          m_registry(m_prefix, scope),
          m_desktop(m_prefix, m_registry),
          m_form(m_registry, m_desktop, m_skin),
          m_title(prefix.Title()) {
        ListUninstallEntries(m_registry, m_form.ListView1(), m_desktop);
    }

    [[nodiscard]] EntryList& List() { return m_form.ListView1(); }
    [[nodiscard]] const wine::Prefix& Prefix() const { return *m_prefix; }
    [[nodiscard]] ConsoleDesktop& Desktop() { return m_desktop; }
    void Suggest() { m_form.PushButton3_Click(); }
    void Remove() { m_form.PushButton2_Click(); }

    enum class Verdict { Judged, Left };
    // `verdict`: Left when only the record's names are wanted, which needs no file test.
    [[nodiscard]] ListedRecord RecordOf(int row, Verdict verdict = Verdict::Judged) {
        const EntryList& list = List();
        ListedRecord record;
        record.prefix = m_prefix->path().string();
        record.prefix_title = m_title;
        record.name = ToUtf8(list.ItemText(row));
        const RecordKey& key = list.Record(row);
        record.location = ToUtf8(key.place.location);
        record.key = ToUtf8(key.name);
        record.key_path = ToUtf8(FullKeyPath(key, m_registry.has_32bit_view()));
        record.command = ToUtf8(list.Command(row));
        if (verdict == Verdict::Judged) std::tie(record.answer, record.reason) = Answer(m_desktop, list, row);
        return record;
    }

    // Whether the hives are still the files the listing was made from.
    [[nodiscard]] bool Unchanged() const {
        const std::optional<WriteFailure> failure = m_registry.read_failure();
        return m_registry.unchanged_since_read() && !(failure && failure->kind == WriteFailureKind::Changing);
    }
    [[nodiscard]] bool has_32bit_view() const { return m_registry.has_32bit_view(); }

    // Every report a handler made, as lines for standard error. The listing
    // passes over a place it cannot open, as the window does; here a
    // registry that cannot be read is said, since a script would take it
    // for one without records.
    [[nodiscard]] std::vector<std::string> Problems() {
        std::vector<std::string> problems;
        for (const std::string& message : m_desktop.Messages()) problems.push_back(m_prefix->path().string() + ": " + message);
        if (UninstallPlacesReadable(m_registry)) return problems;
        const std::optional<WriteFailure> failure = m_registry.read_failure();
        std::string line = "the registry of " + m_prefix->path().string() + " cannot be read";
        if (failure && failure->kind == WriteFailureKind::Changing)
            line += ": " + ToUtf8(failure->file) + " was being changed by another program each time it was read";
        else if (failure && failure->kind == WriteFailureKind::ReadOnly)
            line += ": " + ToUtf8(failure->file) + " is not yours to read";
        else if (failure)
            line += ": " + ToUtf8(failure->file) + " is damaged or not a registry file";
        problems.push_back(std::move(line));
        return problems;
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
Look LookAt(const LinuxPrefix& prefix, ReadScope scope, Work&& work) {
    Look look;
    for (int attempt = 0; attempt < 3; ++attempt) {
        look.session = std::make_unique<Session>(prefix, scope);
        work(*look.session);
        if (look.session->Unchanged()) return look;
    }
    look.changing = true;
    return look;
}

std::string Changing(const fs::path& prefix) {
    return "the registry of " + prefix.string() +
           " was being changed by another program each time it was read; nothing is reported from it. "
           "Close that program, then try again";
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

// The prefixes an action runs on; none, with the reason among `problems`,
// when the one asked for is not a prefix.
std::vector<LinuxPrefix> Prefixes(const CommandLineOptions& options, const fs::path& home, const char* wineprefix,
                                  std::vector<std::string>& problems) {
    if (options.all) {
        std::vector<LinuxPrefix> all;
        for (wine::FoundPrefix& found : wine::DiscoverPrefixes(home, &problems))
            all.emplace_back(found.path, home, std::move(found.name));
        return all;
    }
    const RequestedFolder requested = RequestedPrefixFolder(options.prefix, wineprefix, home);
    if (!requested.is_prefix) {
        problems.push_back(requested.folder.string() + " is not a Wine prefix: it holds no system.reg");
        return {};
    }
    return {LinuxPrefix(requested.folder, home)};
}

struct Listing {
    std::vector<ListedRecord> records;
    std::vector<std::string> problems;
};

// Each prefix is looked at on its own, by as many threads as there are
// processors (a Steam library holds hundreds); the records keep the
// prefixes' order.
Listing ListRecords(const CommandLineOptions& options, const std::vector<LinuxPrefix>& prefixes) {
    std::vector<Listing> looks(prefixes.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < prefixes.size(); i = next++) {
            Listing& listed = looks[i];
            // Each record's file is tested once, by Suggest's own judgement: a
            // record is stale exactly where Suggest would check it.
            Look look = LookAt(prefixes[i], ReadScope::Records, [&](Session& session) {
                listed.records.clear();
                const FileTestRun file_tests(session.Desktop());
                for (int row = 1; row <= session.List().Count(); ++row) {
                    ListedRecord record = session.RecordOf(row);
                    if (options.action == CommandLineOptions::Action::List || record.answer == "stale")
                        listed.records.push_back(std::move(record));
                }
            });
            if (look.changing) {
                listed.records.clear();
                listed.problems.push_back(Changing(prefixes[i].path()));
                continue;
            }
            listed.problems = look.session->Problems();
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(prefixes.size(), std::max(1U, std::thread::hardware_concurrency())) - (prefixes.empty() ? 0 : 1);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();

    Listing all;
    for (Listing& look : looks) {
        std::move(look.records.begin(), look.records.end(), std::back_inserter(all.records));
        std::move(look.problems.begin(), look.problems.end(), std::back_inserter(all.problems));
    }
    return all;
}

// Checks the rows `options` names: the keys given, or what Suggest checks.
// The keys are found in one pass over the list, by name and by path.
bool CheckRequested(const CommandLineOptions& options, Session& session, std::vector<std::string>& problems) {
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
            problems.push_back("no record " + key + " is listed in " + session.Prefix().path().string() +
                               "; nothing was removed");
            return false;
        }
        const std::vector<int>& matches = found->second;
        if (matches.size() > 1) {
            std::string line = key + " names records in more than one place; name one by its path:";
            for (const int row : matches) line += ' ' + session.RecordOf(row, Session::Verdict::Left).key_path;
            problems.push_back(line + "; nothing was removed");
            return false;
        }
        rows.push_back(matches.front());
    }
    for (const int row : rows) list.SetChecked(row, true);
    return true;
}

// The removal in one prefix: what it was to remove, what is gone on disk.
// False when anything was refused or failed, said among `problems`.
bool RemoveRecords(const CommandLineOptions& options, const LinuxPrefix& prefix, Removal& removal,
                   std::vector<std::string>& problems) {
    removal.prefix_title = prefix.Title();
    removal.dry_run = options.dry_run;
    Look look = LookAt(prefix, ReadScope::Whole, [](Session&) {});
    if (look.changing) {
        problems.push_back(Changing(prefix.path()));
        return false;
    }
    Session& session = *look.session;
    if (std::vector<std::string> unread = session.Problems(); !unread.empty()) {
        problems.insert(problems.end(), unread.begin(), unread.end());
        problems.push_back("the records of " + prefix.path().string() + " could not all be read; nothing was removed");
        return false;
    }
    if (!CheckRequested(options, session, problems)) return false;
    EntryList& list = session.List();
    for (int row = 1; row <= list.Count(); ++row)
        if (list.Checked(row)) removal.chosen.push_back(session.RecordOf(row, Session::Verdict::Left));
    if (options.dry_run) {
        if (removal.chosen.empty() || !session.Prefix().ServerRunning()) return true;
        const WriteFailure running{kErrorSharingViolation, WriteFailureKind::ServerRunning,
                                   FromUtf8(session.Prefix().path().string())};
        problems.push_back(ToUtf8(session.Desktop().RegistryWriteAdvice(running, kHkeyLocalMachine)));
        return false;
    }
    if (removal.chosen.empty()) return true;
    session.Remove();
    for (const SavedBackup& backup : session.Desktop().Backups())
        if (backup.saved) removal.backups.push_back(ToUtf8(backup.path));
    // A row leaves the list only once its key is gone on disk.
    std::vector<std::string> left;
    for (int row = 1; row <= list.Count(); ++row)
        if (list.Checked(row)) left.push_back(ToUtf8(list.Record(row).name) + ToUtf8(list.Record(row).place.location));
    for (const ListedRecord& r : removal.chosen)
        if (std::find(left.begin(), left.end(), r.key + r.location) == left.end()) removal.removed.push_back(r);
    std::vector<std::string> after = session.Problems();
    problems.insert(problems.end(), after.begin(), after.end());
    return after.empty() && left.empty();
}

}  // namespace

int RunConsoleAction(const CommandLineOptions& options, const fs::path& home, const char* wineprefix,
                     std::ostream& out, std::ostream& err) noexcept {
    try {
        std::vector<std::string> problems;
        const std::vector<LinuxPrefix> prefixes = Prefixes(options, home, wineprefix, problems);
        PrintProblems(err, problems);
        problems.clear();
        if (prefixes.empty() && !options.all) return kExitFailure;
        // What a killed run left in the prefix goes at the next start on it
        // (not on every prefix --all only looks at).
        if (!options.all) wine::RemoveLeftovers(wine::Prefix(prefixes.front().path()));
        using Action = CommandLineOptions::Action;
        switch (options.action) {
        case Action::List:
        case Action::Stale: {
            const Listing listing = ListRecords(options, prefixes);
            PrintProblems(err, listing.problems);
            PrintRecords(out, listing.records, options.json, options.all);
            return listing.problems.empty() ? kExitOk : kExitFailure;
        }
        case Action::Remove:
        case Action::RemoveStale: {
            int status = kExitOk;
            for (const LinuxPrefix& prefix : prefixes) {
                Removal removal;
                const bool done = RemoveRecords(options, prefix, removal, problems);
                PrintRemoval(out, removal, options.all);
                PrintProblems(err, problems);
                problems.clear();
                if (!done) status = kExitFailure;
            }
            return status;
        }
        case Action::Backups: PrintBackups(out, prefixes.front().Backups(), options.json); return kExitOk;
        case Action::Restore: {
            const RestoreOutcome outcome =
                prefixes.front().Restore(options.backup, options.force ? wine::RestoreReplace::Yes : wine::RestoreReplace::No,
                                         options.dry_run ? wine::RestoreMode::DryRun : wine::RestoreMode::Write);
            PrintRestore(out, err, outcome, options.backup.string(), options.dry_run);
            return outcome.report.ok() ? kExitOk : kExitFailure;
        }
        default: break;
        }
        return kExitUsage;
    } catch (const std::exception& failure) {
        err << kProgramPrefix << failure.what() << '\n';
        return kExitFailure;
    } catch (...) {
        err << kProgramPrefix << "failed\n";
        return kExitFailure;
    }
}

}  // namespace ssr
