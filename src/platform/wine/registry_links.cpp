// Following registry links the way wineserver does, across both hives.
#include "platform/wine/registry_links.h"

#include <cstring>
#include <vector>

#include "platform/registry.h"

namespace ssr::wine {

namespace {

// wineserver's follow_symlink: a link key stands for the key its
// "SymbolicLinkValue" names, an NT path walked from \Registry with every
// key on the way followed in turn. A missing value, a path that is not
// below \Registry, a key that is not there and more than 16 links in a
// row all answer "not found". Below \Registry\User only the prefix user's
// own key is a hive this store reads.
long Follow(LinkedHives& hives, KeyRef& key, int depth) {
    // wineserver counts every key it looks at on a link's path, links or not.
    if (depth > 16) return kErrorFileNotFound;
    if (!key.node->link) return kErrorSuccess;
    if (depth + 1 > 16) return kErrorFileNotFound;  // the path's first key would be one too deep
    RegFile* file = nullptr;
    if (const long error = hives.HiveFile(key.hive, file); error != kErrorSuccess) return error;
    const RegValue* value = file->FindValue(key.node, u"SymbolicLinkValue");
    if (!value) return kErrorFileNotFound;
    Text target(value->data.size() / 2, u'\0');
    std::memcpy(target.data(), value->data.data(), target.size() * 2);
    constexpr TextView kRegistry = u"\\Registry\\";
    if (target.size() <= kRegistry.size() || CompareNames(TextView(target).substr(0, kRegistry.size()), kRegistry) != 0)
        return kErrorFileNotFound;
    const TextView path = TextView(target).substr(kRegistry.size());
    if (path.front() == u'\\') return kErrorFileNotFound;
    const std::vector<TextView> parts = SplitPath(path);
    std::size_t first = 1;
    if (CompareNames(parts.front(), u"Machine") == 0) {
        key.hive = kMachineHive;
    } else if (CompareNames(parts.front(), u"User") == 0 && parts.size() > 1) {
        RegFile* user = nullptr;
        if (hives.HiveFile(kUserHive, user) != kErrorSuccess) user = nullptr;
        if (CompareNames(parts[1], PrefixUserSid(user)) != 0) return kErrorFileNotFound;
        key.hive = kUserHive;
        first = 2;
    } else {
        return kErrorFileNotFound;
    }
    if (const long error = hives.HiveFile(key.hive, file); error != kErrorSuccess) return error;
    if (!file) return kErrorFileNotFound;
    key.node = file->root();
    for (std::size_t i = first; i < parts.size(); ++i) {
        key.node = file->Find(key.node, parts[i]);
        if (!key.node) return kErrorFileNotFound;
        if (const long error = Follow(hives, key, depth + 1); error != kErrorSuccess) return error;
        if (const long error = hives.HiveFile(key.hive, file); error != kErrorSuccess) return error;
    }
    return kErrorSuccess;
}

// Whether a key between `base` (not included) and `node` is a link,
// `node` itself only when it is to be followed.
bool PassesLink(const RegFile::Node* base, const RegFile::Node* node, LastLink last) {
    for (const RegFile::Node* key = node; key && key != base; key = key->parent)
        if (key->link && (key != node || last == LastLink::Follow)) return true;
    return false;
}

}  // namespace

Text PrefixUserSid(const RegFile* user) {
    constexpr char kRelative[] = ";; All keys relative to \\\\User\\\\";
    if (user) {
        const std::string_view bytes = user->bytes();
        const std::size_t at = bytes.substr(0, 4096).find(kRelative);
        if (at != std::string_view::npos) {
            const std::size_t begin = at + sizeof kRelative - 1;
            const std::size_t end = bytes.find_first_of("\r\n", begin);
            if (end != std::string_view::npos && end > begin) return FromUtf8(bytes.substr(begin, end - begin));
        }
    }
    return u"S-1-5-21-0-0-0-1000";
}

long FindFollowingLinks(LinkedHives& hives, KeyRef base, TextView subkey, LastLink last, KeyRef& found) {
    found = {};
    RegFile* file = nullptr;
    if (const long error = hives.HiveFile(base.hive, file); error != kErrorSuccess) return error;
    if (!file) return kErrorFileNotFound;
    // Most paths pass no link: found in one lookup and checked on the way
    // back up, they need no walk key by key.
    KeyRef key{base.hive, file->Find(base.node, subkey)};
    if (key.node && file->HasLinks() && PassesLink(base.node, key.node, last)) key.node = nullptr;
    if (!key.node && file->HasLinks()) {
        key = base;
        const std::vector<TextView> parts = SplitPath(subkey);
        for (std::size_t i = 0; key.node && i < parts.size(); ++i) {
            if (const long error = hives.HiveFile(key.hive, file); error != kErrorSuccess) return error;
            key.node = file->Find(key.node, parts[i]);
            if (key.node && (i + 1 < parts.size() || last == LastLink::Follow))
                if (const long error = Follow(hives, key, 0); error != kErrorSuccess) return error;
        }
    }
    if (!key.node) return kErrorFileNotFound;
    found = key;
    return kErrorSuccess;
}

}  // namespace ssr::wine
