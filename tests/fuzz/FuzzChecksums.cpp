// A SHA256SUMS file from the input. What is read is well-formed (a name, 64 lowercase hex
// digits); written again as sha256sum writes it (names with a backslash or a line break escaped),
// it reads back the same; a name the input makes up, written that way, reads back whole; and the
// verdicts follow from the lines: a name no line gives is not listed, and one that two lines give
// with different digests never matches.

#include "FuzzCheck.h"
#include "firmware/PublishedChecksums.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

namespace {

std::string AsSha256sumWrites(const ChecksumLine& line) {
    std::string name;
    bool escaped = false;
    for (const char c : line.name) {
        const char* escape = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        escaped |= escape != nullptr;
        name += escape ? escape : std::string(1, c);
    }
    return (escaped ? "\\" : "") + line.sha256 + (line.binary ? " *" : "  ") + name + "\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool madeUp = input.ConsumeBool();
    const std::string text = input.ConsumeRemainingBytesAsString();

    if (madeUp) {
        // The text as a file's name, with a digest and a marker of the input's.
        ChecksumLine line{text, std::string(64, '0'), text.size() % 2 == 1};
        for (size_t i = 0; i < text.size() && i < 64; ++i)
            line.sha256[i] = "0123456789abcdef"[static_cast<unsigned char>(text[i]) % 16];
        const ChecksumList list = ParseChecksumList(AsSha256sumWrites(line));
        const bool writable = !text.empty() && text.find('\0') == std::string::npos;
        Require(list.lines.size() == (writable ? 1u : 0u) && list.malformed == (writable ? 0u : 1u),
                "a line as sha256sum writes it is read, unless its name is empty or holds a NUL",
                HexOf(text));
        if (writable)
            Require(list.lines.front() == line, "the name reads back whole", HexOf(text));
        return 0;
    }

    const ChecksumList list = ParseChecksumList(text);
    const size_t lineCount = std::count(text.begin(), text.end(), '\n') + 1;
    Require(list.lines.size() + list.malformed <= lineCount, "at most one checksum a line");
    std::string written;
    for (const ChecksumLine& line : list.lines) {
        Require(line.sha256.size() == 64 &&
                    line.sha256.find_first_not_of("0123456789abcdef") == std::string::npos,
                "a digest is 64 lowercase hex digits", line.sha256);
        Require(!line.name.empty() && line.name.find('\0') == std::string::npos,
                "a name is not empty and holds no NUL");
        written += AsSha256sumWrites(line);
    }
    const ChecksumList again = ParseChecksumList(written);
    Require(again.malformed == 0 && again.lines == list.lines,
            "the lines written as sha256sum writes them read back the same", HexOf(written));

    for (const ChecksumLine& line : list.lines) {
        const bool disagreed = std::any_of(list.lines.begin(), list.lines.end(), [&](auto& other) {
            return other.name == line.name && other.sha256 != line.sha256;
        });
        Require(CheckListed(list, line.name, line.sha256) ==
                    (disagreed ? ChecksumVerdict::Differs : ChecksumVerdict::Matches),
                "a listed file matches its line, unless another line gives it another digest");
        std::string other = line.sha256;
        other[0] = other[0] == '0' ? '1' : '0';
        Require(CheckListed(list, line.name, other) == ChecksumVerdict::Differs,
                "another digest does not match");
        Require(CheckListed(list, line.name + "\x01", line.sha256) == ChecksumVerdict::NotListed ||
                    std::any_of(list.lines.begin(), list.lines.end(),
                                [&](auto& l) { return l.name == line.name + "\x01"; }),
                "a name is matched whole");
    }
    return 0;
}
