#pragma once
// Files in the registry editor's import format ("Windows Registry Editor
// Version 5.00", "REGEDIT4"), read line by line the way Wine's regedit
// imports them, a piece at a time, so that a large file is never in memory
// whole. The reader tells what the file adds, in the file's order, and every
// line that Wine's import would skip, or that would delete something, with
// its number and why. Which keys may be written is not its business.
//
// The text is UTF-16LE after a byte-order mark. Without one, a REGEDIT4 file
// is in the ANSI code page, Windows-1252 (Wine's for Western locales), and a
// "Version 5.00" file is UTF-8, with or without its mark; a line of it that
// is not valid UTF-8 is taken as Windows-1252, as Wine would take it.
//
// What Wine does that the reader follows on purpose: root names in any case
// (and HKLM, HKCU, HKCR, HKU, HKCC as its reg.exe allows), doubled and
// trailing backslashes in key paths, the last ']' ending a key name, blanks
// around '=', indented lines, comments after data and on lines of their own
// (';', and '#' lines, which Wine passes over), line ends of every kind, hex
// data continued over lines (and taken as it stands at the end of the
// file), short dword digits, "\n" "\r" "\\" "\"" escapes (any other escaped
// character stands for itself, as in Wine), and hex(2)/hex(7)/hex(1) data
// terminated and, in a file without a byte-order mark, converted from the
// ANSI code page to UTF-16.
//
// Rejected, where Wine skips the line, gets it wrong or deletes: "\0" in a
// string, a NUL character anywhere, deletions ([-key], "v"=-), a value line
// or key line Wine does not understand, text data of an odd number of
// bytes, any line that is neither a key, a value, a comment nor blank.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace ssr::wine {

// The keys at the top of the registry, as an import file names them.
enum class ImportRoot { LocalMachine, CurrentUser, ClassesRoot, Users, CurrentConfig, DynData };

// What a file says, in its order.
class ImportSink {
public:
    virtual ~ImportSink() = default;
    // A key line: `path` below `root` as Wine opens it (separators single,
    // none at either end; empty for the root itself), `shown` as the file
    // writes it between its brackets.
    virtual void Key(std::size_t line, ImportRoot root, TextView path, TextView shown) = 0;
    // A value of the key named last. `name` is empty for the default value;
    // `data` is what the wide API would store, and the sink may take it.
    virtual void Value(std::size_t line, TextView name, std::uint32_t type, std::vector<std::uint8_t>& data) = 0;
    // A line that Wine's import would skip or get wrong, or that deletes.
    virtual void Rejected(std::size_t line, std::string why) = 0;
};

class ImportReader {
public:
    explicit ImportReader(ImportSink& sink);
    ~ImportReader();
    ImportReader(const ImportReader&) = delete;
    ImportReader& operator=(const ImportReader&) = delete;

    // The file's bytes, in pieces of any size, in order.
    void Feed(std::string_view bytes);
    // After the last piece: empty, or why the file as a whole is not one of
    // the format (then nothing else it said counts).
    [[nodiscard]] std::string Finish();
    // Whether the file is already known not to be one of the format: the
    // rest of it need not be fed.
    [[nodiscard]] bool failed() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Reads the file at `path` through `sink` a piece at a time: empty, or why
// it could not be read or is not one of the format. A file that is not a
// plain file (a FIFO, a device) is refused without waiting on it.
[[nodiscard]] std::string ReadImportFile(const std::filesystem::path& path, ImportSink& sink);
// The same for bytes in memory.
[[nodiscard]] std::string ReadImportBytes(std::string_view bytes, ImportSink& sink);

}  // namespace ssr::wine
