// The buffer rules every registry back end answers with.
#include "platform/registry_buffers.h"

#include <algorithm>

#include "platform/registry.h"

namespace ssr {

long CopyEnumeratedKey(TextView key_name, TextView class_text, char16_t* name, std::uint32_t* name_length,
                       char16_t* class_buffer, std::uint32_t* class_length) {
    if (!name || !name_length) return kErrorInvalidParameter;
    const bool wants_class = class_buffer && class_length;
    if (key_name.size() + 1 > *name_length) return kErrorMoreData;
    if (wants_class && class_text.size() + 1 > *class_length) return kErrorMoreData;
    std::copy(key_name.begin(), key_name.end(), name);
    name[key_name.size()] = 0;
    *name_length = static_cast<std::uint32_t>(key_name.size());
    if (wants_class) {
        std::copy(class_text.begin(), class_text.end(), class_buffer);
        class_buffer[class_text.size()] = 0;
        *class_length = static_cast<std::uint32_t>(class_text.size());
    }
    return kErrorSuccess;
}

long CopyValueData(std::uint32_t stored_type, std::span<const std::uint8_t> stored, std::uint32_t* type,
                   std::uint8_t* data, std::uint32_t* size) {
    if (type) *type = stored_type;
    const auto needed = static_cast<std::uint32_t>(stored.size());
    if (!data) {
        if (size) *size = needed;
        return kErrorSuccess;
    }
    if (!size) return kErrorInvalidParameter;
    if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    std::copy(stored.begin(), stored.end(), data);
    *size = needed;
    return kErrorSuccess;
}

long CopyEnumeratedValue(TextView value_name, std::uint32_t stored_type, std::span<const std::uint8_t> stored,
                         char16_t* name, std::uint32_t* name_length, std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* size) {
    if (!name || !name_length) return kErrorInvalidParameter;
    if (value_name.size() + 1 > *name_length) return kErrorMoreData;
    const long copied = CopyValueData(stored_type, stored, type, data, size);
    if (copied != kErrorSuccess && copied != kErrorMoreData) return copied;
    std::copy(value_name.begin(), value_name.end(), name);
    name[value_name.size()] = 0;
    *name_length = static_cast<std::uint32_t>(value_name.size());
    return copied;
}

TextView ViewPath(RegHandle root, TextView subkey, std::uint32_t view, bool has_32bit_view, Text& storage) {
    if (!has_32bit_view || root != kHkeyLocalMachine || (view & kKeyWow64_32Key) == 0) return subkey;
    storage = ViewPath(root, subkey, view, has_32bit_view);
    return storage;
}

Text ViewPath(RegHandle root, TextView subkey, std::uint32_t view, bool has_32bit_view) {
    if (!has_32bit_view || root != kHkeyLocalMachine || (view & kKeyWow64_32Key) == 0) return Text(subkey);
    constexpr TextView kSoftware = u"Software";
    std::size_t start = subkey.find_first_not_of(u'\\');
    if (start == TextView::npos) return Text(subkey);
    std::size_t end = subkey.find(u'\\', start);
    if (end == TextView::npos) end = subkey.size();
    if (!EqualsIgnoringCase(subkey.substr(start, end - start), kSoftware)) return Text(subkey);
    // Already inside the branch: a path that names it is taken as written.
    const TextView rest = subkey.substr(end);
    const std::size_t next = rest.find_first_not_of(u'\\');
    if (next != TextView::npos) {
        const std::size_t next_end = std::min(rest.find(u'\\', next), rest.size());
        if (EqualsIgnoringCase(rest.substr(next, next_end - next), u"Wow6432Node")) return Text(subkey);
    }
    Text path(subkey.substr(0, end));
    path += u"\\Wow6432Node";
    path += rest;
    return path;
}

}  // namespace ssr
