#pragma once
// Which record of an installed program a row of the list stands for: the
// name of its key below the uninstall key, and the place that holds that
// key. The listing gives every row one, as data beside its columns, the
// way it keeps the row's command: Remove, Uninstall and Suggest go by it,
// and the "KeyName" and "Location" columns only show it.

#include <cstdint>

#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

// One of the uninstall keys that hold records: its root and registry view,
// and its text as the "Location" column shows it.
struct RecordPlace {
    RegHandle root = kHkeyLocalMachine;
    std::uint32_t view = 0;  // kKeyWow64_64Key, kKeyWow64_32Key or 0
    const char16_t* location = u"";

    friend bool operator==(const RecordPlace& a, const RecordPlace& b) {
        return a.root == b.root && a.view == b.view;
    }
};

struct RecordKey {
    Text name;  // empty for a row that was not listed from the registry: no key is ever touched for it
    RecordPlace place;

    friend bool operator==(const RecordKey&, const RecordKey&) = default;
};

}  // namespace ssr
