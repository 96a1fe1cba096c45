// Start Removing Checked Entries: deletes the key of every checked entry and
// takes the entry out of the list, from the last entry to the first.
//
// The walk first reads every row; then one backup file receives the whole
// subtree of every key about to go, and only once it is on disk are the keys
// deleted. If it cannot be written, nothing is deleted and one warning names
// the folder and the reason. A click that deletes nothing after all takes
// its backup away again.
//
// The deletions of one click are made durable together (the registry's
// commit: one write of each changed file for a Wine prefix), and an entry
// leaves the list only once its deletion is: when one file is written and
// the other is not, only the written file's entries go. An entry whose key could not
// be deleted, or whose deletion could not be written, stays in the list,
// still checked, and one warning after the walk says how many stayed and,
// for each reason the registry gave, what the user can do; a key that is
// already gone counts as removed. Without this the user would believe the
// record gone while it comes back at the next start.

#include <algorithm>
#include <utility>
#include <vector>

#include "application/form1.h"
#include "catalogue/places.h"
#include "catalogue/reg_export.h"
#include "operations/operations.h"
#include "platform/desktop.h"
#include "platform/registry.h"
#include "steps/error_report.h"
#include "steps/step_runner.h"

namespace ssr {

Text RemovalFailureMessage(int failed, const std::vector<Text>& advice) {
    Text message = DecimalText(failed);
    message += failed == 1 ? u" checked entry could not be removed from the list of installed programs; it stays checked."
                           : u" checked entries could not be removed from the list of installed programs; they stay checked.";
    for (const Text& paragraph : advice) {
        message += u"\r\r";
        message += paragraph;
    }
    return message;
}

namespace {

// Each row that stayed, with the reason the store gave; the warning names
// each distinct reason once, in the order they were first met.
struct RemovalFailures {
    std::vector<std::pair<WriteFailure, RegHandle>> reasons;
    int count = 0;

    void Add(const WriteFailure& failure, RegHandle root) {
        ++count;
        std::pair<WriteFailure, RegHandle> reason{failure, root};
        if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) reasons.push_back(std::move(reason));
    }

    [[nodiscard]] Text Message(const Desktop& desktop) const {
        std::vector<Text> advice;
        for (const auto& [failure, root] : reasons) {
            Text paragraph = desktop.RegistryWriteAdvice(failure, root);
            if (std::find(advice.begin(), advice.end(), paragraph) == advice.end()) advice.push_back(std::move(paragraph));
        }
        return RemovalFailureMessage(count, advice);
    }
};

}  // namespace

Text BackupWriteFailureMessage(TextView folder, TextView reason) {
    Text message = u"Nothing was removed: the backup of the checked entries could not be written to the folder ";
    message += folder;
    message += u".";
    if (!reason.empty()) {
        message += u"\r\r";
        message += reason;
    }
    return message;
}

Text BackupReadFailureMessage(TextView key_path, long status) {
    if (status == kErrorInvalidData)
        return u"Nothing was removed: the record " + Text(key_path) +
               u" holds a name that a backup file cannot give back (a line break or NUL character in a key's name, "
               u"or a NUL character in a value's name), so it could not be backed up.";
    return u"Nothing was removed: the record " + Text(key_path) + u" could not be read for its backup (error " +
           DecimalText(status) + u").";
}

Text SaveRemovalBackup(Registry& registry, Desktop& desktop, const std::vector<CheckedRecord>& records,
                       Text* saved_path) {
    RegEditExport backup;
    for (const CheckedRecord& record : records) {
        Text failed_path;
        const long status = backup.AppendRecord(registry, record.record, &failed_path);
        // A key already gone has nothing to keep, and its removal is no loss.
        if (status != kErrorSuccess && status != kErrorFileNotFound) return BackupReadFailureMessage(failed_path, status);
    }
    if (backup.key_count() == 0) return {};
    const SavedBackup saved = desktop.SaveBackup(backup.Bytes());
    if (saved.saved && saved_path) *saved_path = saved.path;
    return saved.saved ? Text() : BackupWriteFailureMessage(saved.path, saved.reason);
}

void Form1::PushButton2_Click() noexcept {
    int count = 0;
    int i = 0;
    RemovalFailures failures;
    std::vector<CheckedRecord> pending;  // last row first
    std::size_t next = 0;
    Text backup_warning;
    Text backup_path;  // the backup of this click, once it is on disk
    // The deleting loop's move-on step shares label 116 with the reading loop's.
    constexpr int kNextPending = 117;
    // The rows whose key is gone once the click's deletions are committed,
    // from the last row to the first; `staged` rows wait for the commit.
    struct Done {
        int row;
        RegHandle root;
        bool staged;
    };
    std::vector<Done> done;
    std::size_t next_done = 0;
    RunSteps(m_desktop, location::kPushButton2Click,
             {
                 {106, [&] {
                      count = m_list->Count();
                      i = count;
                      return i < 1 ? Next::Jump(118) : Next::Advance();
                  }},
                 // No key is deleted for an entry whose check mark or record could not be read.
                 {108, [&] { return m_list->Checked(i) ? Next::Advance() : Next::Jump(116); }, Next::Jump(116)},
                 // The key is deleted in the place the row was read from, and
                 // nowhere else: the same name may be a live record elsewhere.
                 {110, [&] {
                      const RecordKey& record = m_list->Record(i);
                      if (record.name.empty()) return Next::Jump(116);
                      pending.push_back(CheckedRecord{i, record});
                      return Next::Advance();
                  }, Next::Jump(116)},
                 {116, [&] { return --i >= 1 ? Next::Jump(108) : Next::Advance(); }, Next::Advance()},
                 // Every record the click deletes is in a backup on disk before
                 // the first key goes; without one, nothing goes.
                 {106, [&] {
                      if (pending.empty()) return Next::Jump(118);
                      backup_warning = SaveRemovalBackup(m_registry, m_desktop, pending, &backup_path);
                      return backup_warning.empty() ? Next::Advance() : Next::Jump(118);
                  }, Next::Jump(118)},
                 {112, [&] {
                      const RecordPlace& place = pending[next].record.place;
                      const long result =
                          m_registry.delete_tree(place.root, RecordKeyPath(pending[next].record.name), place.view);
                      if (result == kErrorSuccess || result == kErrorFileNotFound) {
                          done.push_back({pending[next].row, place.root, result == kErrorSuccess});
                          return Next::Advance();
                      }
                      failures.Add(m_registry.failure_detail(result), place.root);
                      return Next::Jump(kNextPending);
                  }, Next::Jump(kNextPending)},
                 {116, [&] { return ++next < pending.size() ? Next::Jump(112) : Next::Advance(); }, Next::Advance(),
                  kNextPending},
                 // One commit for the click, each file all or nothing. The rows
                 // of a file that could not be written stay, still checked,
                 // and count in the warning; those of a file that was written go.
                 {118, [&] {
                      const CommitResult committed = m_registry.commit();
                      if (!committed.ok()) {
                          const auto kept = [&committed](const Done& d) {
                              return d.staged && committed.FailureOf(d.root) != nullptr;
                          };
                          for (const Done& d : done)
                              if (kept(d)) failures.Add(*committed.FailureOf(d.root), d.root);
                          std::erase_if(done, kept);
                      }
                      // A backup of records that are all still there would only mislead.
                      const bool deleted_any = std::any_of(done.begin(), done.end(), [](const Done& d) { return d.staged; });
                      if (!deleted_any && !backup_path.empty()) m_desktop.DiscardBackup(backup_path);
                      return Next::Advance();
                  }, Next::Jump(119)},
                 // Rows go from the last to the first, so that each position still holds.
                 {114, [&] {
                      if (next_done >= done.size()) return Next::Jump(119);
                      m_list->Remove(done[next_done++].row);
                      return Next::Jump(115);
                  }, Next::Jump(115), 115},
                 {118, [&] {
                      if (!backup_warning.empty())
                          m_desktop.MsgBox(backup_warning, kVbOkOnly + kVbExclamation, std::nullopt);
                      else if (failures.count > 0)
                          m_desktop.MsgBox(failures.Message(m_desktop), kVbOkOnly + kVbExclamation, std::nullopt);
                      return Next::End();
                  }, Next::End(), 119},
             });
}

}  // namespace ssr
