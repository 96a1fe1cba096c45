// The command line's output: aligned text, JSON, and the problems on standard error.
#include "console_output.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <ostream>

namespace ssr {

namespace {

std::string JsonText(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': json += "\\\""; break;
        case '\\': json += "\\\\"; break;
        case '\n': json += "\\n"; break;
        case '\r': json += "\\r"; break;
        case '\t': json += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                json += escaped;
            } else {
                json += c;
            }
        }
    }
    return json + "\"";
}

std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// `count` rows of cells in aligned columns, two blanks apart, under a
// header; the last column is not padded. `cell(row, column)` gives a cell
// where it lies, so no row is copied: a listing of 30,000 records is not
// held twice.
template <class Cell>
void PrintTable(std::ostream& out, const std::vector<std::string>& header, std::size_t count, Cell&& cell) {
    std::vector<std::size_t> widths(header.size(), 0);
    for (std::size_t c = 0; c < header.size(); ++c) widths[c] = Width(header[c]);
    for (std::size_t r = 0; r < count; ++r)
        for (std::size_t c = 0; c < header.size(); ++c) widths[c] = std::max(widths[c], Width(cell(r, c)));
    std::string line;
    const auto print = [&](auto&& text_of) {
        line.clear();
        for (std::size_t c = 0; c < header.size(); ++c) {
            const std::string& text = text_of(c);
            line += text;
            if (c + 1 < header.size()) line.append(widths[c] - Width(text) + 2, ' ');
        }
        out << line << '\n';
    };
    print([&](std::size_t c) -> const std::string& { return header[c]; });
    for (std::size_t r = 0; r < count; ++r) print([&](std::size_t c) -> const std::string& { return cell(r, c); });
}

std::string LocalTime(std::int64_t ns) {
    const std::time_t seconds = static_cast<std::time_t>(ns / 1'000'000'000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

void PrintProblems(std::ostream& err, const std::vector<std::string>& problems) {
    for (const std::string& problem : problems) err << kProgramPrefix << problem << '\n';
}

void PrintRecords(std::ostream& out, const std::vector<ListedRecord>& records, bool json, bool with_prefix) {
    if (json) {
        out << "[";
        for (std::size_t i = 0; i < records.size(); ++i) {
            const ListedRecord& r = records[i];
            out << (i ? ",\n " : "\n ") << "{\"prefix\": " << JsonText(r.prefix) << ", \"prefix_name\": " << JsonText(r.prefix_title)
                << ", \"name\": " << JsonText(r.name) << ", \"location\": " << JsonText(r.location)
                << ", \"key\": " << JsonText(r.key) << ", \"key_path\": " << JsonText(r.key_path)
                << ", \"command\": " << JsonText(r.command) << ", \"suggest\": " << JsonText(r.answer)
                << ", \"reason\": " << JsonText(r.reason) << "}";
        }
        out << (records.empty() ? "]\n" : "\n]\n");
        return;
    }
    std::vector<std::string> header{"NAME", "LOCATION", "KEY", "SUGGEST", "REASON", "COMMAND"};
    if (with_prefix) header.insert(header.begin(), "PREFIX");
    const std::size_t first = with_prefix ? 1 : 0;
    PrintTable(out, header, records.size(), [&](std::size_t row, std::size_t column) -> const std::string& {
        const ListedRecord& r = records[row];
        if (column < first) return r.prefix_title;
        switch (column - first) {
        case 0: return r.name;
        case 1: return r.location;
        case 2: return r.key;
        case 3: return r.answer;
        case 4: return r.reason;
        default: return r.command;
        }
    });
}

void PrintRemoval(std::ostream& out, const Removal& removal, bool with_prefix) {
    if (with_prefix && !removal.chosen.empty()) out << "Prefix: " << removal.prefix_title << '\n';
    if (removal.dry_run) {
        for (const ListedRecord& r : removal.chosen) out << "Would remove: " << r.key_path << "  (" << r.name << ")\n";
        return;
    }
    for (const std::string& backup : removal.backups) out << "Backup: " << backup << '\n';
    for (const ListedRecord& r : removal.removed) out << "Removed: " << r.key_path << "  (" << r.name << ")\n";
}

void PrintBackups(std::ostream& out, const std::vector<BackupListing>& backups, bool json) {
    if (json) {
        out << "[";
        for (std::size_t i = 0; i < backups.size(); ++i)
            out << (i ? ",\n " : "\n ") << "{\"path\": " << JsonText(backups[i].path.string())
                << ", \"changed\": " << JsonText(LocalTime(backups[i].changed_ns)) << ", \"size\": " << backups[i].size << "}";
        out << (backups.empty() ? "]\n" : "\n]\n");
        return;
    }
    for (const BackupListing& b : backups) out << LocalTime(b.changed_ns) << "  " << b.path.string() << '\n';
}

void PrintRestore(std::ostream& out, std::ostream& err, const RestoreOutcome& outcome, const std::string& file,
                  bool dry_run) {
    const wine::RestoreReport& report = outcome.report;
    using Outcome = wine::RestoredRecord::Outcome;
    const bool refused = !report.refusals.empty();
    bool other_contents = false;
    for (const wine::RestoredRecord& record : report.records) {
        const char* said = "Not restored: ";
        switch (record.outcome) {
        case Outcome::AlreadyThere: said = "Already there: "; break;
        case Outcome::OtherContents:
            said = "There with other contents: ";
            other_contents = true;
            break;
        case Outcome::Restored: said = dry_run ? "Would restore: " : refused ? "Not restored: " : "Restored: "; break;
        case Outcome::Replaced: said = dry_run ? "Would replace: " : refused ? "Not restored: " : "Replaced: "; break;
        case Outcome::NotWritten: break;
        }
        out << said << ToUtf8(record.path) << '\n';
    }
    if (refused) {
        err << kProgramPrefix << file << (dry_run ? " would not be restored" : " was not restored; nothing was written")
            << ":\n";
        for (const std::string& refusal : report.refusals) err << "  " << refusal << '\n';
        if (other_contents) err << kProgramPrefix << "--force replaces the records there with the backup's\n";
    }
    PrintProblems(err, outcome.advice);
}

}  // namespace ssr
