// Writing registry keys in the registry editor's import format, for backups.
#include "catalogue/reg_export.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace ssr {

namespace {

// The editor continues a hex line once it reaches this many characters.
constexpr std::size_t kHexLineLimit = 77;
// Deeper than any registry allows: a store that loops is not followed forever.
constexpr int kMaxDepth = 512;
// Subkey names are at most 255 characters.
constexpr std::uint32_t kKeyNameBuffer = 256;

// Inside quotes, as Wine's reg.exe and registry editor read them back: a
// backslash before a backslash or a quote, and line breaks as \r and \n
// (a raw one would end the line in the middle of a name).
void AppendEscaped(Text& out, TextView text) {
    for (const char16_t c : text) {
        if (c == u'\r') {
            out += u"\\r";
        } else if (c == u'\n') {
            out += u"\\n";
        } else {
            if (c == u'\\' || c == u'"') out += u'\\';
            out += c;
        }
    }
}

// A key's section header has no escapes, and a value name read back ends at
// its first NUL: such names cannot be written so that an import restores them.
bool CarriesKeyPath(TextView path) { return path.find_first_of(TextView(u"\r\n\0", 3)) == TextView::npos; }
bool CarriesValueName(TextView name) { return name.find(u'\0') == TextView::npos; }

void AppendHexByte(Text& out, std::uint8_t byte) {
    constexpr char16_t kDigits[] = u"0123456789abcdef";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

Text TypeHex(std::uint32_t type) {
    constexpr char16_t kDigits[] = u"0123456789abcdef";
    Text digits;
    do {
        digits.insert(digits.begin(), kDigits[type & 0xF]);
        type >>= 4;
    } while (type != 0);
    return digits;
}

// The text a REG_SZ holds, when writing it in quotes gives back exactly its
// bytes on import: whole UTF-16 units, one terminator at the end and none
// before, and no line break (the editors disagree on escaping those).
std::optional<Text> PlainText(std::span<const std::uint8_t> data) {
    if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
    Text text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), data.size());
    if (text.back() != 0) return std::nullopt;
    text.pop_back();
    if (text.find_first_of(Text(u"\r\n\0", 3)) != Text::npos) return std::nullopt;
    return text;
}

// Closes a key on every way out.
class OpenedKey {
public:
    OpenedKey(Registry& registry, RegHandle key) : m_registry(registry), m_key(key) {}
    ~OpenedKey() { m_registry.close_key(m_key); }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

private:
    Registry& m_registry;
    RegHandle m_key;
};

}  // namespace

Text RegEditValueLine(TextView name, std::uint32_t type, std::span<const std::uint8_t> data) {
    Text line;
    if (name.empty()) {
        line = u"@=";
    } else {
        line = u"\"";
        AppendEscaped(line, name);
        line += u"\"=";
    }
    if (type == kRegSz) {
        if (const auto text = PlainText(data)) {
            line += u'"';
            AppendEscaped(line, *text);
            line += u"\"\r\n";
            return line;
        }
    }
    if (type == kRegDword && data.size() == 4) {
        line += u"dword:";
        for (int i = 3; i >= 0; --i) AppendHexByte(line, data[static_cast<std::size_t>(i)]);
        line += u"\r\n";
        return line;
    }
    line += type == kRegBinary ? Text(u"hex:") : u"hex(" + TypeHex(type) + u"):";
    std::size_t line_length = line.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        AppendHexByte(line, data[i]);
        if (i + 1 == data.size()) break;
        line += u',';
        line_length += 3;
        if (line_length >= kHexLineLimit) {
            line += u"\\\r\n  ";
            line_length = 2;
        }
    }
    line += u"\r\n";
    return line;
}

RegEditExport::RegEditExport() : m_text(kRegEditHeader), m_name_buffer(kMaxValueNameLength + 1), m_data_buffer(4096) {
    m_text += u"\r\n";
}

long RegEditExport::AppendTree(Registry& registry, RegHandle root, TextView subkey, std::uint32_t view,
                               TextView shown_path, Text* failed_path) {
    // A registry link is saved as the link itself, with its target's name:
    // that is what a removal deletes, and importing it must not turn the
    // link into a copy of the key it points at.
    RegHandle key = 0;
    const long opened = registry.open_key_ex(root, subkey, kRegOptionOpenLink, kKeyRead | view, &key);
    if (opened != kErrorSuccess) {
        if (failed_path) *failed_path = Text(shown_path);
        return opened;
    }
    const OpenedKey owner(registry, key);
    Text sections;
    int keys = 0;
    const long status = AppendKey(registry, key, view, Text(shown_path), 0, sections, keys, failed_path);
    if (status != kErrorSuccess) return status;
    m_text += sections;
    m_keys += keys;
    return kErrorSuccess;
}

long RegEditExport::AppendRecord(Registry& registry, const RecordKey& record, Text* failed_path) {
    return AppendTree(registry, record.place.root, RecordKeyPath(record.name), record.place.view,
                      FullKeyPath(record, registry.has_32bit_view()), failed_path);
}

long RegEditExport::AppendKey(Registry& registry, RegHandle key, std::uint32_t view, const Text& shown_path,
                              int depth, Text& out, int& keys, Text* failed_path) {
    const auto fail = [&](long status, const Text& path) {
        if (failed_path) *failed_path = path;
        return status;
    };
    if (depth > kMaxDepth) return fail(kErrorBadDbFormat, shown_path);
    if (!CarriesKeyPath(shown_path)) return fail(kErrorInvalidData, shown_path);
    out += u"\r\n[";
    out += shown_path;
    out += u"]\r\n";
    ++keys;

    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t name_length = static_cast<std::uint32_t>(m_name_buffer.size());
        std::uint32_t type = 0;
        std::uint32_t size = static_cast<std::uint32_t>(m_data_buffer.size());
        long status = registry.enum_value(key, index, m_name_buffer.data(), &name_length, &type,
                                          m_data_buffer.data(), &size);
        // The value may grow between asking its size and reading it: ask again.
        for (int attempt = 0; status == kErrorMoreData && attempt < 8; ++attempt) {
            if (size <= m_data_buffer.size()) return fail(kErrorMoreData, shown_path);  // a name too long
            m_data_buffer.resize(size);
            name_length = static_cast<std::uint32_t>(m_name_buffer.size());
            status = registry.enum_value(key, index, m_name_buffer.data(), &name_length, &type, m_data_buffer.data(),
                                         &size);
        }
        if (status == kErrorNoMoreItems) break;
        if (status != kErrorSuccess) return fail(status, shown_path);
        if (!CarriesValueName(TextView(m_name_buffer.data(), name_length))) return fail(kErrorInvalidData, shown_path);
        out += RegEditValueLine(TextView(m_name_buffer.data(), name_length), type,
                                std::span<const std::uint8_t>(m_data_buffer.data(), size));
    }

    std::vector<Text> children;
    for (std::uint32_t index = 0;; ++index) {
        char16_t name[kKeyNameBuffer];
        std::uint32_t name_length = kKeyNameBuffer;
        const long status = registry.enum_key_ex(key, index, name, &name_length, nullptr, nullptr);
        if (status == kErrorNoMoreItems) break;
        if (status != kErrorSuccess) return fail(status, shown_path);
        children.emplace_back(name, name_length);
    }
    for (const Text& child : children) {
        const Text child_path = shown_path + u'\\' + child;
        RegHandle opened = 0;
        const long status = registry.open_key_ex(key, child, kRegOptionOpenLink, kKeyRead | view, &opened);
        if (status == kErrorFileNotFound) continue;  // gone since it was listed
        if (status != kErrorSuccess) return fail(status, child_path);
        const OpenedKey owner(registry, opened);
        const long appended = AppendKey(registry, opened, view, child_path, depth + 1, out, keys, failed_path);
        if (appended != kErrorSuccess) return appended;
    }
    return kErrorSuccess;
}

std::vector<std::uint8_t> RegEditExport::Bytes() const {
    const Text whole = m_text + u"\r\n";
    std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    bytes.reserve(2 + whole.size() * 2);
    for (const char16_t unit : whole) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

}  // namespace ssr
