#include "text/TerminalText.h"

#include <cstdio>

namespace {

void AppendEscape(std::string& out, const char* format, unsigned value) {
    char escaped[8];
    std::snprintf(escaped, sizeof(escaped), format, value);
    out += escaped;
}

// Whether text[at] starts a well-formed UTF-8 character of length bytes (2 to 4).
bool ContinuesUtf8(const std::string& text, size_t at, size_t length) {
    if (at + length > text.size())
        return false;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return false;
    return true;
}

} // namespace

std::string EscapedControls(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            line += "\\r";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\t')
            line += "\\t";
        else if (byte < 0x20 || byte == 0x7F)
            AppendEscape(line, "\\x%02X", byte);
        else
            line += c;
    }
    return line;
}

std::string TerminalText(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        if (byte < 0x80) {
            line += EscapedControls(std::string(1, text[at++]));
        } else if (byte == 0xC2 && ContinuesUtf8(text, at, 2) &&
                   static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
            AppendEscape(line, "\\u%04X", static_cast<unsigned char>(text[at + 1]));
            at += 2;
        } else if (length > 1 && ContinuesUtf8(text, at, length)) {
            line.append(text, at, length);
            at += length;
        } else if (byte <= 0x9F) {
            AppendEscape(line, "\\x%02X", byte);
            ++at;
        } else {
            line += text[at++];
        }
    }
    return line;
}
