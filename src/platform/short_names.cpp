// Short (8.3) names: recognising them and making the one Wine gives a long name.
#include "platform/short_names.h"

#include <cstdint>

namespace ssr {

namespace {

// Characters no short name holds, besides anything beyond ASCII.
constexpr TextView kNotInShortNames = u"*?<>|\"+=,;[] ";

bool RefusedInShortName(char16_t c) { return c > 0x7F || kNotInShortNames.find(c) != TextView::npos; }

}  // namespace

bool IsLegalShortName(TextView name) {
    if (name.empty() || name.size() > 12) return false;
    if (name[0] == u'.') return name == u"." || name == u"..";
    std::size_t dot = TextView::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (RefusedInShortName(c) || c == u':' || c == u'/' || c == u'\\') return false;
        if (c == u'.') {
            if (dot != TextView::npos) return false;
            dot = i;
        }
    }
    if (dot == TextView::npos) return name.size() <= 8;
    const std::size_t extension = name.size() - dot - 1;
    return dot <= 8 && extension >= 1 && extension <= 3;
}

bool IsShortNameForm(TextView name) {
    if (!IsLegalShortName(name) || name[0] == u'.') return false;
    const TextView base = name.substr(0, name.find(u'.'));
    return base.find(u'~') != TextView::npos;
}

Text WineShortName(TextView long_name) {
    if (long_name.empty()) return {};
    static constexpr char kHashCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    // Wine keeps the hash in 16 bits and mixes each character with the next.
    std::uint16_t hash = 0xBEEF;
    const auto mix = [&hash](std::uint32_t value) {
        hash = static_cast<std::uint16_t>((static_cast<std::uint32_t>(hash) << 3) ^ (hash >> 5) ^ value);
    };
    for (std::size_t i = 0; i + 1 < long_name.size(); ++i)
        mix(LowerCaseUnit(long_name[i]) ^ (static_cast<std::uint32_t>(LowerCaseUnit(long_name[i + 1])) << 8));
    mix(LowerCaseUnit(long_name.back()));

    // The extension starts at the last dot that is neither the first nor the last character.
    std::size_t extension = TextView::npos;
    for (std::size_t i = 1; i + 1 < long_name.size(); ++i)
        if (long_name[i] == u'.') extension = i;

    // Only ASCII is left, shown in upper case as Wine shows it.
    const auto short_character = [](char16_t c) -> char16_t {
        if (RefusedInShortName(c) || c == u'~' || c == u'.') return u'_';
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    };
    Text name;
    for (std::size_t i = 0; i < 4 && i < long_name.size() && i != extension; ++i)
        name += short_character(long_name[i]);
    name.append(5 - name.size(), u'~');
    name += static_cast<char16_t>(kHashCharacters[(hash >> 10) & 0x1F]);
    name += static_cast<char16_t>(kHashCharacters[(hash >> 5) & 0x1F]);
    name += static_cast<char16_t>(kHashCharacters[hash & 0x1F]);
    if (extension != TextView::npos) {
        name += u'.';
        for (std::size_t i = extension + 1; i < long_name.size() && i <= extension + 3; ++i)
            name += short_character(long_name[i]);
    }
    return name;
}

}  // namespace ssr
