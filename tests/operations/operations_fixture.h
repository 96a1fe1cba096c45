#pragma once
// A main window with an in-memory registry, a scripted desktop and a list
// that can be told to refuse accesses.

#include <gtest/gtest.h>

#include "application/appearance.h"
#include "doubles/recording_skin_engine.h"
#include "application/form1.h"
#include "doubles/memory_registry.h"
#include "doubles/scripted_desktop.h"
#include "support/faulty_entry_list.h"
#include "support/reports.h"

namespace ssr::testing {

struct Row {
    Text name;
    Text target;  // "FileExists" column
    Text key;
    Text command = u"C:\\App\\uninstall.exe";
    bool checked = false;
    bool selected = false;
};

class OperationsTest : public ::testing::Test {
protected:
    MemoryRegistry registry;
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    FaultyEntryList* list = nullptr;
    std::unique_ptr<Form1> form;
    std::vector<std::string> accesses;  // "Remove 5", ...

    void SetUp() override {
        auto owned = std::make_unique<FaultyEntryList>();
        list = owned.get();
        form = std::make_unique<Form1>(registry, desktop, skin, std::move(owned));
        desktop.application_title = u"Sweep Stale Records Out Of The Installed";
    }

    void Fill(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            const int p = list->Add(row.name);
            list->SetSubItem(p, 1, row.command);
            list->SetSubItem(p, 2, row.target);
            list->SetSubItem(p, 3, row.key);
            list->SetRecord(p, RecordKey{row.key, RecordPlace{}});
            if (row.checked) list->SetChecked(p, true);
            if (row.selected) list->SetSelected(p, true);
            if (!row.key.empty()) registry.SetText(Text(kUninstallKeyPath) + u"\\" + row.key, u"DisplayName", row.name);
        }
    }

    // Makes `operation` fail at `position` (0: every position).
    void Refuse(std::string_view operation, int position = 0) {
        list->refuse = [this, op = std::string(operation), position](std::string_view o, int p) {
            accesses.push_back(std::string(o) + " " + std::to_string(p));
            return o == op && (position == 0 || p == position);
        };
    }
    void Record() {
        list->refuse = [this](std::string_view o, int p) {
            accesses.push_back(std::string(o) + " " + std::to_string(p));
            return false;
        };
    }

    std::vector<bool> CheckStates() const {
        std::vector<bool> states;
        for (int i = 1; i <= list->EntryList::Count(); ++i) states.push_back(list->Row(i).checked);
        return states;
    }
    std::vector<Text> Names() const {
        std::vector<Text> names;
        for (int i = 1; i <= list->EntryList::Count(); ++i) names.push_back(list->Row(i).ItemText());
        return names;
    }
    std::vector<int> ReportLabels() const { return testing::ReportLabels(desktop); }
    bool KeyExists(TextView key) const { return registry.KeyExists(Text(kUninstallKeyPath) + u"\\" + Text(key)); }
};

}  // namespace ssr::testing
