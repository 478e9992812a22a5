#include "firmware/PublishedChecksums.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kDigestLength = 64;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The name as written after the marker; nullopt when an escaped name holds an escape other than
// "\\\\", "\\n" and "\\r", or ends in a lone backslash. No name may hold a NUL.
std::optional<std::string> NameOf(std::string_view written, bool escaped) {
    std::string name;
    for (std::size_t at = 0; at < written.size(); ++at) {
        char c = written[at];
        if (c == '\0')
            return std::nullopt;
        if (escaped && c == '\\') {
            if (++at == written.size())
                return std::nullopt;
            switch (written[at]) {
            case '\\':
                c = '\\';
                break;
            case 'n':
                c = '\n';
                break;
            case 'r':
                c = '\r';
                break;
            default:
                return std::nullopt;
            }
        }
        name += c;
    }
    return name;
}

std::optional<ChecksumLine> ParseLine(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    const bool escaped = at < line.size() && line[at] == '\\';
    at += escaped;
    // The digest, one blank, the marker, and a name of at least one character.
    if (line.size() < at + kDigestLength + 3)
        return std::nullopt;
    ChecksumLine parsed;
    for (const char c : line.substr(at, kDigestLength)) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        parsed.sha256 += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    at += kDigestLength;
    const char marker = line[at + 1];
    if (!IsBlank(line[at]) || (marker != ' ' && marker != '*'))
        return std::nullopt;
    parsed.binary = marker == '*';
    std::optional<std::string> name = NameOf(line.substr(at + 2), escaped);
    if (!name)
        return std::nullopt;
    parsed.name = std::move(*name);
    return parsed;
}

} // namespace

ChecksumList ParseChecksumList(std::string_view text) {
    ChecksumList list;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        if (std::optional<ChecksumLine> parsed = ParseLine(line))
            list.lines.push_back(std::move(*parsed));
        else
            ++list.malformed;
    }
    return list;
}

ChecksumVerdict CheckListed(const ChecksumList& list, const std::string& name,
                            const std::string& sha256) {
    ChecksumVerdict verdict = ChecksumVerdict::NotListed;
    for (const ChecksumLine& line : list.lines) {
        if (!SameFileName(line.name, name))
            continue;
        if (line.sha256 != sha256)
            return ChecksumVerdict::Differs;
        verdict = ChecksumVerdict::Matches;
    }
    return verdict;
}

std::vector<std::string> ListedNotAmong(const ChecksumList& list,
                                        const std::vector<std::string>& names) {
    std::vector<std::string> absent;
    const auto among = [](const std::vector<std::string>& within, const std::string& name) {
        return std::any_of(within.begin(), within.end(),
                           [&](const std::string& other) { return SameFileName(other, name); });
    };
    for (const ChecksumLine& line : list.lines) {
        if (FileNameStart(line.name) == 0 && !among(names, line.name) && !among(absent, line.name))
            absent.push_back(line.name);
    }
    return absent;
}

FirmwareResult ReadChecksumListBeside(const std::string& path, bool pathIsFolder,
                                      std::optional<ChecksumList>& list, std::string& file) {
    list.reset();
    file = pathIsFolder ? PathInFolder(path, kChecksumListName)
                        : path.substr(0, FileNameStart(path)) + kChecksumListName;
    FirmwareFile sums;
    if (const FirmwareResult opened = sums.Open(file.c_str(), FileSharing::Readers); !opened) {
        // A folder that is not there has no list either: the firmware file fails as before.
        if (opened.systemError == kErrorNoSuchFile || opened.systemError == kErrorNoSuchPath)
            return FirmwareResult::Success();
        return opened;
    }
    std::uint32_t size = 0;
    if (const FirmwareResult sized = sums.Size(size); !sized)
        return sized;
    if (size > kChecksumListLimit)
        return FirmwareResult::Failure(FirmwareError::TooLarge, kErrorTooLarge);
    std::string text(size, '\0');
    std::uint32_t filled = 0;
    if (const FirmwareResult got = sums.ReadUpTo(text.data(), size, filled); !got)
        return got;
    text.resize(filled);
    list = ParseChecksumList(text);
    return FirmwareResult::Success();
}
