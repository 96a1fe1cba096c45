#pragma once
// Registry links as wineserver follows them: a key marked "#link" stands for
// the key its "SymbolicLinkValue" names, which may lie in the other hive.

#include "platform/text.h"
#include "platform/wine/hive/reg_file.h"

namespace ssr::wine {

inline constexpr int kMachineHive = 0;  // system.reg: HKEY_LOCAL_MACHINE
inline constexpr int kUserHive = 1;     // user.reg: the prefix user's HKEY_CURRENT_USER

// The hives a link may lead into, each read the first time it is asked for.
class LinkedHives {
public:
    virtual ~LinkedHives() = default;
    // The parsed hive, or null (with success) when the prefix has no such
    // file; an error when it cannot be read.
    [[nodiscard]] virtual long HiveFile(int hive, RegFile*& file) = 0;
};

struct KeyRef {
    int hive = kMachineHive;
    RegFile::Node* node = nullptr;
};

// The prefix user's key below \Registry\User: the one user.reg says its keys
// are relative to, else the one Wine gives every user.
[[nodiscard]] Text PrefixUserSid(const RegFile* user);

// Whether the last key of a path is followed when it is a link, or opened as the link itself.
enum class LastLink { Follow, Open };

// Finds `subkey` below `base` as wineserver opens it: every key on the way
// that is a link is followed, the last one as `last` says. A link whose
// target is missing, or more than 16 links in a row, is "not found".
[[nodiscard]] long FindFollowingLinks(LinkedHives& hives, KeyRef base, TextView subkey, LastLink last,
                                      KeyRef& found);

}  // namespace ssr::wine
