#pragma once
// Registry keys written out in the registry editor's import format, so that
// what a removal deletes can be put back by importing one file: "Windows
// Registry Editor Version 5.00", UTF-16LE with a byte-order mark, CRLF lines,
// one "[HKEY_...\path]" section per key followed by its values.
//
// Every value keeps its type and its bytes exactly. A text is written as
// "text" only when the import gives back the same bytes (UTF-16, one
// terminator, no line breaks or NULs inside); any other value is written in
// hex, as the editor writes hex: one "xx," per byte, long lines continued
// with a backslash.

#include <cstdint>
#include <span>
#include <vector>

#include "catalogue/places.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

inline constexpr char16_t kRegEditHeader[] = u"Windows Registry Editor Version 5.00";

// One value line with its CRLF: `"name"=...` or `@=...` for the default
// value. Line breaks in the name are written as \r and \n, as Wine's
// importers read them; a NUL cannot be written.
[[nodiscard]] Text RegEditValueLine(TextView name, std::uint32_t type, std::span<const std::uint8_t> data);

// A file being built: the header, then the sections appended to it.
class RegEditExport {
public:
    RegEditExport();

    // Appends the key `subkey` below `root` in `view`, all its values and
    // all its subkeys, under the section name `shown_path` (the full path an
    // import must put it back at). On failure nothing is appended and
    // `failed_path` names the key that could not be read; a key that is not
    // there gives kErrorFileNotFound, and a key or value name that the
    // format cannot give back on import (a line break or NUL in a key's
    // name, a NUL in a value's) kErrorInvalidData. Registry links, the key itself or any
    // below it, are written as links (their "SymbolicLinkValue"), never
    // followed.
    [[nodiscard]] long AppendTree(Registry& registry, RegHandle root, TextView subkey, std::uint32_t view,
                                  TextView shown_path, Text* failed_path = nullptr);

    // Appends the record's key, written with its full path.
    [[nodiscard]] long AppendRecord(Registry& registry, const RecordKey& record, Text* failed_path = nullptr);

    [[nodiscard]] int key_count() const { return m_keys; }
    [[nodiscard]] const Text& text() const { return m_text; }
    // The file's bytes: UTF-16LE with its byte-order mark and a final empty line.
    [[nodiscard]] std::vector<std::uint8_t> Bytes() const;

private:
    long AppendKey(Registry& registry, RegHandle key, std::uint32_t view, const Text& shown_path, int depth,
                   Text& out, int& keys, Text* failed_path);

    Text m_text;
    int m_keys = 0;
    std::vector<char16_t> m_name_buffer;
    std::vector<std::uint8_t> m_data_buffer;
};

}  // namespace ssr
