#include "text/TerminalText.h"

#include "text/Utf8.h"

#include <cstdio>

namespace {

void AppendEscape(std::string& out, const char* format, unsigned value) {
    char escaped[8];
    std::snprintf(escaped, sizeof(escaped), format, value);
    out += escaped;
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
        const size_t length = Utf8CharacterLength(text, at);
        if (byte < 0x80) {
            line += EscapedControls(std::string(1, text[at++]));
        } else if (length == 2 && byte == 0xC2 &&
                   static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
            AppendEscape(line, "\\u%04X", static_cast<unsigned char>(text[at + 1]));
            at += 2;
        } else if (length > 0) {
            line.append(text, at, length);
            at += length;
        } else if (byte <= 0x9F) {
            // A byte outside a well-formed character: a C1 control on a terminal that reads
            // bytes, and part of one on a terminal that decodes overlong forms.
            AppendEscape(line, "\\x%02X", byte);
            ++at;
        } else {
            line += text[at++];
        }
    }
    return line;
}
