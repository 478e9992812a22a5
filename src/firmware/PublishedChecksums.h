#pragma once
// The checksums a maker publishes beside its firmware: a SHA256SUMS file as sha256sum writes it
// and "sha256sum -c" reads it. Each line is 64 hex digits, a blank, a mode marker (' ' for text,
// '*' for binary) and the file's name; a line that starts with a backslash has its name escaped
// ("\\\\", "\\n", "\\r"). Lines starting with '#' and empty lines are skipped; a CR before the
// line end is dropped. The parser is pure, so that every rule can be tested with bytes in memory.

#include "firmware/FirmwareFile.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr const char* kChecksumListName = "SHA256SUMS";
// A list of firmware checksums is a few lines; anything larger is not one.
constexpr std::uint32_t kChecksumListLimit = 1024 * 1024;

struct ChecksumLine {
    std::string name;   // as it names the file, unescaped
    std::string sha256; // 64 lowercase hex digits
    bool binary = false;

    bool operator==(const ChecksumLine&) const = default;
};

struct ChecksumList {
    std::vector<ChecksumLine> lines;
    std::size_t malformed = 0; // lines that are neither checksums, comments nor empty
};

ChecksumList ParseChecksumList(std::string_view text);

enum class ChecksumVerdict {
    NoList,    // no SHA256SUMS beside the file
    NotListed, // the list does not name the file
    Matches,   // every line that names the file gives its SHA-256
    Differs,   // a line that names the file gives another SHA-256
};

// The verdict on a file of that name (its name within its folder) and SHA-256 (lowercase hex).
// Names are compared as this system compares file names.
ChecksumVerdict CheckListed(const ChecksumList& list, const std::string& name,
                            const std::string& sha256);

// The names the list gives to files of its own folder (names without a folder part) that are
// not among names, compared as this system compares file names; each once, in the list's order.
std::vector<std::string> ListedNotAmong(const ChecksumList& list,
                                        const std::vector<std::string>& names);

// Reads the SHA256SUMS in a folder, or beside a file when path names one; list stays empty when
// there is none. A list that cannot be read (or is over kChecksumListLimit) fails with Open,
// Read or TooLarge and the system's code; file names where the list is.
FirmwareResult ReadChecksumListBeside(const std::string& path, bool pathIsFolder,
                                      std::optional<ChecksumList>& list, std::string& file);
