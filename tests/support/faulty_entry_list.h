#pragma once
// An entry list that refuses chosen accesses, so tests can make any labelled
// step of a handler fail the way a list control can.

#include <functional>
#include <string_view>
#include <utility>

#include "platform/entry_list.h"
#include "platform/failure.h"

namespace ssr::testing {

class FaultyEntryList : public EntryList {
public:
    // Called before every access with the operation's name and position;
    // returning true makes the access fail.
    std::function<bool(std::string_view operation, int position)> refuse;

    void AddColumnHeader(TextView text) override { Check("AddColumnHeader", 0); EntryList::AddColumnHeader(text); }
    void SetColumnWidth(int column, float twips) override { Check("SetColumnWidth", column); EntryList::SetColumnWidth(column, twips); }
    void Clear() override { Check("Clear", 0); EntryList::Clear(); }
    int Add(TextView text) override { Check("Add", 0); return EntryList::Add(text); }
    int Count() const override { Check("Count", 0); return EntryList::Count(); }
    Text ItemText(int p) const override { Check("ItemText", p); return EntryList::ItemText(p); }
    Text SubItem(int p, int k) const override { Check("SubItem", p); return EntryList::SubItem(p, k); }
    void SetSubItem(int p, int k, TextView t) override { Check("SetSubItem", p); EntryList::SetSubItem(p, k, t); }
    Text Command(int p) const override { Check("Command", p); return EntryList::Command(p); }
    void SetCommand(int p, TextView t) override { Check("SetCommand", p); EntryList::SetCommand(p, t); }
    RecordKey Record(int p) const override { Check("Record", p); return EntryList::Record(p); }
    void SetRecord(int p, const RecordKey& r) override { Check("SetRecord", p); EntryList::SetRecord(p, r); }
    bool Checked(int p) const override { Check("Checked", p); return EntryList::Checked(p); }
    void SetChecked(int p, bool c) override { Check("SetChecked", p); EntryList::SetChecked(p, c); }
    bool Selected(int p) const override { Check("Selected", p); return EntryList::Selected(p); }
    void SetSelected(int p, bool s) override { Check("SetSelected", p); EntryList::SetSelected(p, s); }
    void Remove(int p) override { Check("Remove", p); EntryList::Remove(p); }

private:
    void Check(std::string_view operation, int position) const {
        if (refuse && refuse(operation, position)) throw Failure(u"The list refused the access");
    }
};

}  // namespace ssr::testing
