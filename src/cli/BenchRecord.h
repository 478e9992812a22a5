#pragma once
// The bench's record: a CSV file (RFC 4180, CRLF line ends) with one row per unit and attempt,
// appended, so that several benches can write to one file on a share. Each row goes to the file
// whole in one append; a new file gets its header row and first row before any other program
// can append, so two programs that make it at once never write the header twice.

#include "cli/Console.h"
#include "cli/FirmwareCatalog.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct RecordRow {
    std::string port, serial, product, model, oldVersion;
    std::string file, sha256, newVersion;
    std::string result, bytes, seconds;
    std::string confirmed; // "yes", "no", or "" without --verify
};

// A unit's row: its identity and old version from discovery, the file chosen for it (nullptr
// when none was), and what came of it.
RecordRow RecordOf(const Unit& unit, const CatalogFile* file, const std::string& result,
                   std::uint32_t bytes, const std::string& seconds, const std::string& confirmed);

// One field as written: a text that a spreadsheet would take for a formula (starting with =, +,
// -, @, a tab or a carriage return) gets a leading apostrophe, so it shows as text; then a field
// holding a quote, a comma or a line break is quoted, its quotes doubled.
std::string CsvField(const std::string& text);
// The fields as one line, CRLF at its end.
std::string CsvLine(const std::vector<std::string>& fields);

// The time now, UTC, to the second: "2026-12-07T18:30:05Z".
std::string UtcNow();

// The header row, and a row with the time (UTC, ISO 8601) and this computer's name in front.
std::string RecordHeader();
std::string RecordLine(const RecordRow& row);

class BenchRecord {
  public:
    explicit BenchRecord(std::string path) : m_path(std::move(path)) {}
    // Whether rows can be appended, before anything is done that they would record: an existing
    // file opened for appending, or a new file's folder written to (the file itself is not made
    // early). false when not, which is said on standard error.
    bool CanAppend(Console& console) const;
    // Whether a row could not be written since the record was opened.
    bool AnyLost() const { return m_lost; }
    // Appends the row; a row that cannot be written is reported on standard error, and the
    // bench goes on.
    bool Append(const RecordRow& row, Console& console) const;

  private:
    std::string m_path;
    mutable std::atomic<bool> m_lost{false};
};

// The system's calls (RecordFileWin.cpp, RecordFilePosix.cpp): this computer's name, and the
// append itself: the row alone to an existing file, header and row to a new one; false with why
// not.
std::string HostName();
bool AppendToRecordFile(const std::string& path, const std::string& header, const std::string& row,
                        std::string& error);
bool RecordFileWritable(const std::string& path, std::string& error);
