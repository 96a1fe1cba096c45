// The registry of a Wine prefix: its hives opened, read, and written back.
#include "platform/wine/wine_registry.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "platform/registry_buffers.h"
#include "platform/wine/posix/posix.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/registry_links.h"
#include "platform/wine/prefix/prefix.h"

namespace ssr {

namespace {

Text PathText(const std::filesystem::path& path) { return FromUtf8(path.string()); }

WriteFailure ReadFailure(const std::filesystem::path& file, wine::IoError error) {
    if (error == wine::IoError::AccessDenied) return {kErrorAccessDenied, WriteFailureKind::ReadOnly, PathText(file)};
    if (error == wine::IoError::Changing) return {kErrorBadDbFormat, WriteFailureKind::Changing, PathText(file)};
    return {kErrorBadDbFormat, WriteFailureKind::Damaged, PathText(file)};
}

WriteFailure WriteFailureOf(const std::filesystem::path& file, wine::IoError error, int code) {
    switch (error) {
    case wine::IoError::AccessDenied: return {kErrorAccessDenied, WriteFailureKind::ReadOnly, PathText(file)};
    case wine::IoError::NoSpace:
    case wine::IoError::TooLarge: return {kErrorDiskFull, WriteFailureKind::DiskFull, PathText(file)};
    default:
        return {kErrorWriteFault, WriteFailureKind::System, PathText(file),
                FromUtf8(wine::SystemErrorText(code ? code : EIO))};
    }
}


// The uninstall key of the 32-bit view, as a win64 prefix keeps it.
constexpr char16_t kUninstallKeyPath32[] = u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

}  // namespace

// One registry file of the prefix and what was read from it.
struct Hive {
    std::filesystem::path path;
    bool loaded = false;
    long load_error = kErrorSuccess;      // the hive cannot be used while this is set
    std::unique_ptr<wine::RegFile> file;  // null: no such file, an empty hive
    wine::FileIdentity identity;
};

struct WinePrefixRegistry::State final : wine::LinkedHives {
    using Node = wine::RegFile::Node;
    static constexpr int kMachine = wine::kMachineHive;
    static constexpr int kUser = wine::kUserHive;

    struct OpenKey {
        int hive = kMachine;
        Node* node = nullptr;  // null once the key was deleted
    };

    std::shared_ptr<const wine::Prefix> prefix;
    wine::WriteFaultHook fault;
    ReadScope scope = ReadScope::Whole;
    Hive hives[2];
    // Why the last call that failed to read or change a hive did, in full.
    WriteFailure last_failure;
    // The records a restore staged in each hive, by path, and whether one
    // there already was to be replaced: what a fresh reading is checked against.
    struct StagedRecord {
        Text path;
        bool replace = false;
    };
    std::vector<StagedRecord> staged_records[2];

    long Fail(WriteFailure failure) {
        last_failure = std::move(failure);
        return last_failure.status;
    }
    // Open handles, the newest last. Only a few are open at a time (a
    // listing opens and closes one per value it reads), so a search from the
    // end beats a tree that allocates for each.
    std::vector<std::pair<RegHandle, OpenKey>> handles;

    std::pair<RegHandle, OpenKey>* FindHandle(RegHandle key) {
        for (auto it = handles.rbegin(); it != handles.rend(); ++it)
            if (it->first == key) return &*it;
        return nullptr;
    }
    RegHandle next_handle = 0x1000;

    static int HiveOf(RegHandle root) {
        return root == kHkeyLocalMachine ? kMachine : root == kHkeyCurrentUser ? kUser : -1;
    }

    long HiveFile(int h, wine::RegFile*& file) override {
        file = nullptr;
        const long error = Load(h);
        if (error == kErrorSuccess) file = hives[h].file.get();
        return error;
    }

    // The prefix's architecture; a system.reg that cannot be read counts as none.
    wine::Architecture PrefixArchitecture() {
        return wine::PrefixArchitectureOf(Load(kMachine) == kErrorSuccess ? hives[kMachine].file.get() : nullptr);
    }

    // Reads a hive the first time it is used; a missing file is an empty
    // hive (as for wineserver), an unreadable one fails every call on it.
    // Asked at every call that names a key: a hive read before answers at once.
    long Load(int h) {
        const Hive& hive = hives[h];
        if (hive.loaded && hive.load_error == kErrorSuccess) [[likely]]
            return kErrorSuccess;
        return LoadFirst(h);
    }
    long LoadFirst(int h) {
        Hive& hive = hives[h];
        // A hive that could not be parsed says so, with its file, every time.
        if (hive.loaded)
            return hive.load_error == kErrorSuccess ? kErrorSuccess : Fail(ReadFailure(hive.path, wine::IoError::Other));
        FreshHive read = ReadAndParse(h, scope == ReadScope::Records);
        if (read.error == wine::IoError::NotFound) {
            hive.loaded = true;
            return hive.load_error = kErrorSuccess;
        }
        if (read.error != wine::IoError::None) return Fail(ReadFailure(hive.path, read.error));  // try again next call
        if (!Settled(h, read)) return Fail(ReadFailure(hive.path, wine::IoError::Changing));  // read again next call
        hive.loaded = true;
        hive.identity = read.identity;
        hive.file = std::move(read.file);
        if (!hive.file) return hive.load_error = Fail(ReadFailure(hive.path, wine::IoError::Other));
        return hive.load_error = kErrorSuccess;
    }

    struct FreshHive {
        wine::IoError error = wine::IoError::None;
        wine::FileIdentity identity;
        std::unique_ptr<wine::RegFile> file;  // nothing when the file is no registry
        bool ends_a_line = true;              // the file's last byte is a line feed, or it has none
    };
    // A hive's file read and parsed as it is now; `records_only` keeps only
    // the sections of system.reg that hold records. user.reg is read as
    // wineserver reads it after system.reg: an "#arch=" line that
    // contradicts the prefix's ends what it reads of the file.
    FreshHive ReadAndParse(int h, bool records_only) {
        const Hive& hive = hives[h];
        FreshHive fresh;
        wine::ReadResult read = wine::ReadWholeFile(hive.path);
        fresh.error = read.error;
        if (read.error != wine::IoError::None) return fresh;
        fresh.identity = read.identity;
        const std::string_view bytes = read.bytes;
        fresh.ends_a_line = bytes.empty() || bytes.back() == '\n';
        if (h == kMachine && records_only)
            static_cast<void>(wine::CutToRecordSections(read.bytes));
        fresh.file = Parse(h, std::move(read.bytes));
        return fresh;
    }

    // Whether a fresh reading may be believed. A file another program
    // rewrites in place can be read cut short, and a reading that saw no
    // change may still be of one: it is no registry, or it stops short of
    // the line end wineserver ends every file with. Such a reading is
    // believed only once the file has held still for a while.
    bool Settled(int h, const FreshHive& read) const {
        if (read.file && read.ends_a_line) return true;
        return HeldStill(h, read.identity);
    }
    bool HeldStill(int h, const wine::FileIdentity& identity) const {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = wine::IdentityOf(hives[h].path);
        return now && *now == identity;
    }

    std::unique_ptr<wine::RegFile> Parse(int h, std::string bytes) {
        if (h == kMachine) return wine::RegFile::Parse(std::move(bytes));
        return wine::RegFile::Parse(std::move(bytes), PrefixArchitecture());
    }

    // Replaces a hive's parsed file with `fresh`, carrying its open handles
    // over by their paths; handles whose key is gone now see it as deleted.
    // `revive`: handles to keys deleted in the old copy follow them too.
    void Adopt(int h, std::unique_ptr<wine::RegFile> fresh, const wine::FileIdentity& fresh_identity, bool revive) {
        for (auto& [handle, open] : handles) {
            if (open.hive != h) continue;
            if (!open.node || (open.node->removed && !revive)) {
                open.node = nullptr;
                continue;
            }
            open.node = fresh ? fresh->Find(fresh->root(), wine::RegFile::PathOf(open.node)) : nullptr;
        }
        hives[h].file = std::move(fresh);
        hives[h].identity = fresh_identity;
    }

    // The key a root or handle stands for, and the hive it lives in.
    Node* Resolve(RegHandle key, int& h, long& error) {
        if (const int root = HiveOf(key); root >= 0) {
            h = root;
            if ((error = Load(h)) != kErrorSuccess) return nullptr;
            if (hives[h].file) return hives[h].file->root();
            error = kErrorFileNotFound;
            return nullptr;
        }
        auto* const it = FindHandle(key);
        if (!it) {
            error = kErrorInvalidHandle;
            return nullptr;
        }
        h = it->second.hive;
        if ((error = Load(h)) != kErrorSuccess) return nullptr;
        Node*& node = it->second.node;
        if (node && node->removed) node = nullptr;
        if (!node) error = kErrorKeyDeleted;
        return node;
    }

    // Opens as wineserver does: every key on the way that is a link is
    // followed, the last one too unless `open_link` asks for the link itself.
    long Open(RegHandle root, TextView subkey, bool open_link, RegHandle* result) {
        if (!result) return kErrorInvalidParameter;
        *result = 0;
        long error = kErrorSuccess;
        int h = kMachine;
        Node* base = Resolve(root, h, error);
        if (!base) return error;
        wine::KeyRef found;
        error = wine::FindFollowingLinks(*this, {h, base}, subkey,
                                         open_link ? wine::LastLink::Open : wine::LastLink::Follow, found);
        if (error != kErrorSuccess) return error;
        h = found.hive;
        Node* node = found.node;
        if (!node) return kErrorFileNotFound;
        const RegHandle handle = next_handle;
        next_handle += 4;
        handles.emplace_back(handle, OpenKey{h, node});
        *result = handle;
        return kErrorSuccess;
    }

    // Asked once more just before the rename, so that neither a new file
    // nor a wineserver that started meanwhile is overwritten or overrides us.
    struct CurrentCheck {
        State* state;
        int hive;
        const wine::ServerLock* server_lock;
        bool server_running = false;
    };
    static bool StillCurrent(void* context) {
        auto* check = static_cast<CurrentCheck*>(context);
        const Hive& hive = check->state->hives[check->hive];
        const auto now = wine::IdentityOf(hive.path);
        if (!now || !(*now == hive.identity)) return false;
        check->server_running = check->state->ServerRunning(check->server_lock);
        return !check->server_running;
    }

    // With the server lock held, only a server beyond its reach can run;
    // the lock's own folders would look taken to the usual check.
    bool ServerRunning(const wine::ServerLock* held) const {
        return held ? held->ServerOutside() : prefix->ServerRunning();
    }
    WriteFailure ServerFailure() const {
        return {kErrorSharingViolation, WriteFailureKind::ServerRunning, PathText(prefix->path())};
    }

    long Refresh(int h);
    long MayWrite(int h);
    long DeleteTree(RegHandle root, TextView subkey);
    long StageRecord(int h, TextView path, std::vector<wine::NewKey> keys, Replace replace, RecordStaging& staging);
    CommitResult Commit();
    long CommitHive(int h, const wine::ServerLock& held);
    void Rollback(int h);
};

namespace {

// How long a second writer of the same prefix waits for the first.
constexpr std::chrono::milliseconds kLockWait{3000};

}  // namespace

// Reads the hive again when the file changed since it was read, keeping
// what is staged: the staged keys are looked up afresh by their paths, and
// those someone else deleted meanwhile are simply gone.
long WinePrefixRegistry::State::Refresh(int h) {
    Hive& hive = hives[h];
    const auto now_identity = wine::IdentityOf(hive.path);
    if (!now_identity) return kErrorFileNotFound;
    if (*now_identity == hive.identity) return kErrorSuccess;
    FreshHive read = ReadAndParse(h, false);
    if (read.error == wine::IoError::NotFound) return kErrorFileNotFound;
    if (read.error != wine::IoError::None) return Fail(ReadFailure(hive.path, read.error));
    if (!Settled(h, read)) return Fail(ReadFailure(hive.path, wine::IoError::Changing));
    // Never written over what is no longer a registry.
    if (!read.file) return Fail(ReadFailure(hive.path, wine::IoError::Other));
    const std::vector<Text> staged = hive.file ? hive.file->StagedPaths() : std::vector<Text>{};
    std::vector<wine::NewKey> added = hive.file ? hive.file->TakeStagedNew() : std::vector<wine::NewKey>{};
    Adopt(h, std::move(read.file), read.identity, false);
    wine::RegFile& file = *hive.file;
    bool lost = false;
    for (const Text& path : staged) {
        if (Node* node = file.Find(file.root(), path)) file.Stage(node);
        else lost = true;
    }
    // Keys someone else deleted meanwhile, or a reading cut short by a
    // program rewriting the file in place: only a file that held still says.
    if (lost && !HeldStill(h, hive.identity)) return Fail(ReadFailure(hive.path, wine::IoError::Changing));
    if (added.empty()) return kErrorSuccess;
    // A record to be restored that someone else wrote meanwhile: what was
    // decided about it no longer holds.
    for (const StagedRecord& record : staged_records[h]) {
        Node* there = file.Find(file.root(), record.path);
        if (!there) continue;
        if (!record.replace) {
            staged_records[h].clear();
            return Fail({kErrorWriteFault, WriteFailureKind::System, PathText(hive.path),
                         u"another program wrote a record that was being restored into it meanwhile"});
        }
        file.Stage(there);
    }
    file.StageNew(std::move(added));
    return kErrorSuccess;
}

// Whether the store may write the hive at all: a file we can rewrite
// exactly, and one the user left writable. Whether a wineserver runs is
// asked once per commit, with its lock held, where the answer still holds
// when the file is replaced.
long WinePrefixRegistry::State::MayWrite(int h) {
    const Hive& hive = hives[h];
    // A damaged hive (zero-filled blocks after a crash) may hold keys that
    // Wine reads where we do not; removing from it could take a key Wine
    // thinks separate. So may sections Wine files under a link's target.
    // Such a hive is listed, never written.
    if (hive.file && (hive.file->HasNulBytes() || hive.file->HasSectionsBelowLinks()))
        return Fail({kErrorBadDbFormat, WriteFailureKind::Damaged, PathText(hive.path)});
    if ((hive.identity.mode & 0222) == 0 || !wine::MayWriteTo(hive.path))
        return Fail({kErrorAccessDenied, WriteFailureKind::ReadOnly, PathText(hive.path)});
    return kErrorSuccess;
}

long WinePrefixRegistry::State::DeleteTree(RegHandle root, TextView subkey) {
    last_failure = {};
    long error = kErrorSuccess;
    int h = kMachine;
    if (!Resolve(root, h, error)) return error;
    Hive& hive = hives[h];
    if (!hive.file) return kErrorFileNotFound;
    // What would refuse the write of the file itself is answered at the
    // first deletion of a commit, before anything is staged; the commit asks
    // again, and alone asks whether a wineserver runs.
    if (!hive.file->HasChanges()) {
        if ((error = Refresh(h)) != kErrorSuccess) return error;
        if ((error = MayWrite(h)) != kErrorSuccess) return error;
    }
    Node* base = Resolve(root, h, error);
    if (!base) return error;
    // The root itself, and the key that holds the entries, are never taken
    // away, whatever path leads to them: that would wipe every program's
    // record or a whole hive.
    if (SplitPath(subkey).empty()) return kErrorAccessDenied;
    wine::RegFile& file = *hive.file;
    Node* target = file.Find(base, subkey);
    if (!target) return kErrorFileNotFound;
    for (const TextView guarded : {TextView(kUninstallKeyPath), TextView(kUninstallKeyPath32)})
        for (const Node* up = file.Find(file.root(), guarded); up; up = up->parent)
            if (up == target) return kErrorAccessDenied;
    file.Stage(target);
    return kErrorSuccess;
}

namespace {

// Whether `node` and everything below it are exactly `wanted` (lower-cased
// paths below the root), values compared by name, type and bytes; `seen`
// counts the keys compared.
bool SameTree(wine::RegFile& file, wine::RegFile::Node* node, const Text& path,
              const std::map<Text, const wine::NewKey*>& wanted, std::size_t& seen) {
    const auto it = wanted.find(LowerCase(path));
    if (it == wanted.end() || node->link) return false;
    const std::vector<wine::RegValue>& have = file.Values(node);
    const std::vector<wine::RegValue>& want = it->second->values;
    if (have.size() != want.size()) return false;
    for (const wine::RegValue& w : want) {
        const auto match = std::find_if(have.begin(), have.end(), [&w](const wine::RegValue& h) {
            return wine::CompareNames(h.name, w.name) == 0 && h.type == w.type && h.data == w.data;
        });
        if (match == have.end()) return false;
    }
    ++seen;
    for (wine::RegFile::Node* child : file.Children(node))
        if (!SameTree(file, child, path + u'\\' + child->name, wanted, seen)) return false;
    return true;
}

}  // namespace

long WinePrefixRegistry::State::StageRecord(int h, TextView path, std::vector<wine::NewKey> keys, Replace replace,
                                            RecordStaging& staging) {
    last_failure = {};
    long error = Load(h);
    if (error != kErrorSuccess) return error;
    Hive& hive = hives[h];
    if (!hive.file)
        return Fail({kErrorFileNotFound, WriteFailureKind::System, PathText(hive.path), u"there is no such file"});
    if (!hive.file->HasChanges()) {
        if ((error = Refresh(h)) != kErrorSuccess) return error;
        if ((error = MayWrite(h)) != kErrorSuccess) return error;
    }
    wine::RegFile& file = *hive.file;
    const std::vector<TextView> parts = SplitPath(path);
    if (parts.empty()) return kErrorAccessDenied;
    // wineserver files a section below a link under the link's target, and
    // a file with one is never rewritten: nothing goes below a link.
    Node* existing = file.root();
    for (std::size_t i = 0; i < parts.size() && existing; ++i) {
        existing = file.Find(existing, parts[i]);
        if (existing && existing->link && i + 1 < parts.size()) {
            staging = RecordStaging::BelowLink;
            return kErrorSuccess;
        }
    }
    if (existing) {
        std::map<Text, const wine::NewKey*> wanted;
        for (const wine::NewKey& key : keys) wanted[LowerCase(key.path)] = &key;
        std::size_t seen = 0;
        if (SameTree(file, existing, Text(path), wanted, seen) && seen == wanted.size()) {
            staging = RecordStaging::AlreadyThere;
            return kErrorSuccess;
        }
        if (replace == Replace::No) {
            staging = RecordStaging::OtherContents;
            return kErrorSuccess;
        }
        file.Stage(existing);
        staging = RecordStaging::Replacing;
    } else {
        staging = RecordStaging::Added;
    }
    file.StageNew(std::move(keys));
    staged_records[h].push_back({Text(path), replace == Replace::Yes});
    return kErrorSuccess;
}

CommitResult WinePrefixRegistry::State::Commit() {
    const auto staged = [this](int h) { return hives[h].file && hives[h].file->HasChanges(); };
    if (!staged(kMachine) && !staged(kUser)) return {};
    // Held until both files are replaced: no other writer bases its file on
    // the same old one, and no wineserver starts and loads the old files,
    // to write its copy, with the removed keys, back later.
    wine::RegistryWriteLocks locks(prefix->path());
    std::optional<WriteFailure> refused;
    switch (locks.Acquire(kLockWait)) {
    case wine::RegistryWriteLocks::Refusal::None: break;
    case wine::RegistryWriteLocks::Refusal::OtherWriter:
        refused = WriteFailure{kErrorSharingViolation, WriteFailureKind::OtherWriter, PathText(prefix->path())};
        break;
    case wine::RegistryWriteLocks::Refusal::LockNotOurs:
        refused = WriteFailure{kErrorAccessDenied, WriteFailureKind::LockNotOurs, PathText(locks.file())};
        break;
    case wine::RegistryWriteLocks::Refusal::ServerRunning: refused = ServerFailure(); break;
    case wine::RegistryWriteLocks::Refusal::System:
        refused = WriteFailure{kErrorWriteFault, WriteFailureKind::System, PathText(locks.file()),
                               FromUtf8(wine::SystemErrorText(locks.code()))};
        break;
    }
    // Each file on its own: one that cannot be written keeps its keys, and
    // the other is still written, so that what is reported is what is on disk.
    CommitResult result;
    for (const int h : {kMachine, kUser}) {
        if (!staged(h)) continue;
        const RegHandle root = h == kMachine ? kHkeyLocalMachine : kHkeyCurrentUser;
        if (refused) {
            result.failed.emplace_back(root, *refused);
        } else {
            // With the lock held, no living writer owns a temporary file.
            wine::RemoveLeftoverTemporaries(hives[h].path);
            last_failure = {};
            if (CommitHive(h, locks.server()) == kErrorSuccess) continue;
            result.failed.emplace_back(root, last_failure);
            if (!staged(h)) continue;  // written, but a server may have loaded the old file
        }
        Rollback(h);
    }
    return result;
}

long WinePrefixRegistry::State::CommitHive(int h, const wine::ServerLock& held) {
    Hive& hive = hives[h];
    for (int attempt = 0; attempt < 3; ++attempt) {
        long error = Refresh(h);
        // A file that went away holds none of the keys any more.
        if (error == kErrorFileNotFound) {
            Adopt(h, nullptr, {}, false);
            return kErrorSuccess;
        }
        if (error != kErrorSuccess) return error;
        // A file another program rewrites in place may have been read cut
        // short, missing the very keys staged: what was read is believed only
        // when the file is still what it was once read and indexed.
        if (const auto now = wine::IdentityOf(hive.path); !now || !(*now == hive.identity)) continue;
        if (!hive.file->HasChanges()) return kErrorSuccess;  // someone else deleted them all
        if ((error = MayWrite(h)) != kErrorSuccess) return error;

        const wine::HeaderStamps stamps = wine::HeaderStampsNow();
        const std::uint64_t seconds = stamps.unix_seconds;
        const std::uint64_t ticks = stamps.filetime;
        // Added sections are made while they are written, never all in memory.
        wine::RegFile::Rewrite rewrite = hive.file->WithoutStaged(seconds, ticks, wine::RegFile::Additions::Apart);
        const wine::RegFile& file = *hive.file;
        const auto produce = [&](const wine::ContentWriter& write) {
            if (write(rewrite.bytes) && rewrite.added) file.WriteStagedNew(write, seconds, ticks);
        };
        // A hive that links elsewhere is replaced where it really lives.
        std::error_code ec;
        const std::filesystem::path real = std::filesystem::canonical(hive.path, ec);
        CurrentCheck check{this, h, &held};
        // The fault hook's second half begins where the added sections do.
        const std::size_t size = rewrite.bytes.size() * (rewrite.added ? 2 : 1);
        const wine::ReplaceOutcome outcome =
            wine::ReplaceFile(ec ? hive.path : real, produce, size, hive.identity, &StillCurrent, &check, fault);
        if (outcome.result == wine::ReplaceResult::Stale) {
            if (check.server_running) return Fail(ServerFailure());
            continue;  // changed under us: read again
        }
        if (outcome.result == wine::ReplaceResult::Failed) return Fail(WriteFailureOf(hive.path, outcome.error, outcome.code));

        const auto written = wine::IdentityOf(hive.path);
        staged_records[h].clear();
        if (rewrite.added) {
            // New sections are indexed by reading the file's new bytes: now,
            // for the open handles, or else when the hive is next used.
            const bool open = std::any_of(handles.begin(), handles.end(),
                                          [h](const auto& handle) { return handle.second.hive == h; });
            if (open) {
                wine::ReadResult read = wine::ReadWholeFile(hive.path);
                Adopt(h, read.error == wine::IoError::None ? Parse(h, std::move(read.bytes)) : nullptr, {}, false);
            } else {
                hive.file.reset();
                hive.loaded = false;
            }
        } else {
            hive.file->ApplyRewrite(std::move(rewrite));
        }
        // Should the new file be unreadable at once, the next deletion reads it afresh.
        hive.identity = written ? *written : wine::FileIdentity{};
        // A server the lock cannot reach that runs now may have loaded the
        // old file before the rename and would write it back: the rows stay.
        if (held.ServerOutside()) return Fail(ServerFailure());
        return kErrorSuccess;
    }
    return Fail({kErrorWriteFault, WriteFailureKind::Changing, PathText(hive.path)});
}

// The staged deletions did not reach the disk: the hive is what its bytes
// say again, and handles to the keys that seemed gone see them again.
void WinePrefixRegistry::State::Rollback(int h) {
    Hive& hive = hives[h];
    staged_records[h].clear();
    if (!hive.file) return;
    Adopt(h, Parse(h, std::string(hive.file->bytes())), hive.identity, true);
}

WinePrefixRegistry::WinePrefixRegistry(std::shared_ptr<const wine::Prefix> prefix, wine::WriteFaultHook fault)
    : m_state(std::make_unique<State>()) {
    m_state->prefix = std::move(prefix);
    m_state->hives[State::kMachine].path = m_state->prefix->path() / "system.reg";
    m_state->hives[State::kUser].path = m_state->prefix->path() / "user.reg";
    m_state->fault = std::move(fault);
}

WinePrefixRegistry::WinePrefixRegistry(std::shared_ptr<const wine::Prefix> prefix, ReadScope scope)
    : WinePrefixRegistry(std::move(prefix)) {
    m_state->scope = scope;
}

WinePrefixRegistry::~WinePrefixRegistry() = default;

const wine::Prefix& WinePrefixRegistry::prefix() const { return *m_state->prefix; }

long WinePrefixRegistry::open_key_ex(RegHandle root, TextView subkey, std::uint32_t options,
                                     std::uint32_t access, RegHandle* result) {
    Text storage;
    return m_state->Open(root, ViewPath(root, subkey, access, has_32bit_view(), storage),
                         (options & kRegOptionOpenLink) != 0, result);
}

long WinePrefixRegistry::open_key(RegHandle root, TextView subkey, std::uint32_t view, RegHandle* result) {
    Text storage;
    return m_state->Open(root, ViewPath(root, subkey, view, has_32bit_view(), storage), false, result);
}

bool WinePrefixRegistry::has_32bit_view() const {
    return m_state->PrefixArchitecture() == wine::Architecture::Win64;
}

long WinePrefixRegistry::enum_key_ex(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                                     char16_t* class_text, std::uint32_t* class_length) {
    long error = kErrorSuccess;
    int hive = 0;
    State::Node* node = m_state->Resolve(key, hive, error);
    if (!node) return error;
    if (!name || !name_length) return kErrorInvalidParameter;
    const auto& children = m_state->hives[hive].file->Children(node);
    if (index >= children.size()) return kErrorNoMoreItems;
    const State::Node& child = *children[index];
    return CopyEnumeratedKey(child.name, child.ClassText(), name, name_length, class_text, class_length);
}

long WinePrefixRegistry::query_value_ex(RegHandle key, TextView value_name, std::uint32_t* type, std::uint8_t* data,
                                        std::uint32_t* size) {
    if (State::HiveOf(key) >= 0) return kErrorInvalidHandle;
    long error = kErrorSuccess;
    int hive = 0;
    State::Node* node = m_state->Resolve(key, hive, error);
    if (!node) return error;
    const wine::RegValue* value = m_state->hives[hive].file->FindValue(node, value_name);
    if (!value) return kErrorFileNotFound;
    return CopyValueData(value->type, value->data, type, data, size);
}

long WinePrefixRegistry::enum_value(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                                    std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    if (State::HiveOf(key) >= 0) return kErrorInvalidHandle;
    long error = kErrorSuccess;
    int hive = 0;
    State::Node* node = m_state->Resolve(key, hive, error);
    if (!node) return error;
    const auto& values = m_state->hives[hive].file->Values(node);
    if (index >= values.size()) return kErrorNoMoreItems;
    const wine::RegValue& value = values[index];
    return CopyEnumeratedValue(value.name, value.type, value.data, name, name_length, type, data, size);
}

long WinePrefixRegistry::close_key(RegHandle key) {
    if (key == 0) return kErrorInvalidHandle;
    auto* const open = m_state->FindHandle(key);
    if (!open) return kErrorInvalidHandle;
    m_state->handles.erase(m_state->handles.begin() + (open - m_state->handles.data()));
    return kErrorSuccess;
}

long WinePrefixRegistry::delete_tree(RegHandle root, TextView subkey, std::uint32_t view) {
    // A store that read part of the file would write that part as the whole.
    if (m_state->scope != ReadScope::Whole) return kErrorAccessDenied;
    return m_state->DeleteTree(root, ViewPath(root, subkey, view, has_32bit_view()));
}

long WinePrefixRegistry::delete_value(RegHandle, TextView, TextView, std::uint32_t) {
    return kErrorAccessDenied;  // TODO staged value deletion
}

long WinePrefixRegistry::stage_values(RegHandle, TextView, std::vector<wine::RegValue>, Replace,
                                      std::vector<RecordStaging>&) {
    return kErrorAccessDenied;  // TODO
}

bool WinePrefixRegistry::unchanged_since_read() const {
    for (const Hive& hive : m_state->hives) {
        if (!hive.loaded || hive.load_error != kErrorSuccess) continue;
        const auto now = wine::IdentityOf(hive.path);
        // A file that was missing is an empty hive as long as it stays missing.
        if (!hive.file ? now.has_value() : !now || !(*now == hive.identity)) return false;
    }
    return true;
}

std::optional<WriteFailure> WinePrefixRegistry::read_failure() const {
    if (m_state->last_failure.status == kErrorSuccess) return std::nullopt;
    switch (m_state->last_failure.kind) {
    case WriteFailureKind::Damaged:
    case WriteFailureKind::Changing:
    case WriteFailureKind::ReadOnly: return m_state->last_failure;
    default: return std::nullopt;
    }
}

long WinePrefixRegistry::stage_record(RegHandle root, TextView path, std::vector<wine::NewKey> keys, Replace replace,
                                      RecordStaging& staging) {
    const int h = State::HiveOf(root);
    if (h < 0) return kErrorInvalidHandle;
    // A store that read part of the file would write that part as the whole.
    if (m_state->scope != ReadScope::Whole) return kErrorAccessDenied;
    return m_state->StageRecord(h, path, std::move(keys), replace, staging);
}

CommitResult WinePrefixRegistry::commit() {
    if (m_state->scope == ReadScope::Whole) return m_state->Commit();
    // A store that read part of the file would write that part as the whole.
    const WriteFailure refused(kErrorAccessDenied);
    return CommitResult{{{kHkeyLocalMachine, refused}, {kHkeyCurrentUser, refused}}};
}

WriteFailure WinePrefixRegistry::failure_detail(long status) const {
    if (m_state->last_failure.status == status) return m_state->last_failure;
    return WriteFailure{status};
}

// A hive never read has nothing stale; one that cannot be read now keeps
// what was read before.
void WinePrefixRegistry::refresh() {
    for (const int h : {State::kMachine, State::kUser})
        if (m_state->hives[h].loaded) (void)m_state->Refresh(h);
}

}  // namespace ssr
