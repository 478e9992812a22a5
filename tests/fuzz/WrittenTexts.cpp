#include "WrittenTexts.h"

#include "FuzzCheck.h"
#include "cli/BenchRecord.h"
#include "cli/JsonEvents.h"
#include "text/TerminalText.h"

namespace {

unsigned Byte(const std::string& text, size_t at) {
    return static_cast<unsigned char>(text[at]);
}

void AppendUtf8(std::string& out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | codePoint >> 6);
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | codePoint >> 12);
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | codePoint >> 18);
        out += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// The text as JSON must carry it: well-formed characters whole, other bytes as Latin-1.
std::string AsUnicode(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        unsigned codePoint = 0;
        if (const size_t length = WellFormedUtf8(text, at, codePoint); length > 0) {
            out.append(text, at, length);
            at += length;
        } else {
            AppendUtf8(out, Byte(text, at++));
        }
    }
    return out;
}

// A JSON string at json[at] (RFC 8259), decoded to UTF-8; at moves past it. false when it is
// not one.
bool ParseJsonString(const std::string& json, size_t& at, std::string& value) {
    if (at >= json.size() || json[at] != '"')
        return false;
    ++at;
    while (at < json.size()) {
        const unsigned byte = Byte(json, at);
        if (byte == '"') {
            ++at;
            return true;
        }
        if (byte < 0x20)
            return false;
        if (byte != '\\') {
            unsigned codePoint = 0;
            const size_t length = byte < 0x80 ? 1 : WellFormedUtf8(json, at, codePoint);
            if (length == 0)
                return false; // JSON text is UTF-8
            value.append(json, at, length);
            at += length;
            continue;
        }
        if (++at >= json.size())
            return false;
        const char escape = json[at++];
        const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
        if (const size_t which = simple.find(escape); which != std::string::npos) {
            value += meaning[which];
        } else if (escape == 'u' && at + 4 <= json.size()) {
            const unsigned codePoint = std::stoul(json.substr(at, 4), nullptr, 16);
            if (json.substr(at, 4).find_first_not_of("0123456789abcdefABCDEF") !=
                    std::string::npos ||
                (codePoint >= 0xD800 && codePoint <= 0xDFFF))
                return false;
            AppendUtf8(value, codePoint);
            at += 4;
        } else {
            return false;
        }
    }
    return false;
}

// An object of string members, as EventJson writes it.
bool ParseJsonObject(const std::string& json, std::vector<std::string>& values) {
    size_t at = 0;
    const auto blanks = [&] {
        while (at < json.size() && json[at] == ' ')
            ++at;
    };
    if (json.empty() || json[at++] != '{')
        return false;
    for (;;) {
        blanks();
        std::string name, value;
        if (!ParseJsonString(json, at, name))
            return false;
        blanks();
        if (at >= json.size() || json[at++] != ':')
            return false;
        blanks();
        if (!ParseJsonString(json, at, value))
            return false;
        values.push_back(value);
        blanks();
        if (at < json.size() && json[at] == ',') {
            ++at;
            continue;
        }
        return at + 1 == json.size() && json[at] == '}';
    }
}

// RFC 4180: one record, ended by CRLF outside quotes.
bool ParseCsvLine(const std::string& line, std::vector<std::string>& fields) {
    std::string field;
    size_t at = 0;
    for (;;) {
        field.clear();
        if (at < line.size() && line[at] == '"') {
            ++at;
            for (;;) {
                if (at >= line.size())
                    return false;
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += line[at++];
            }
        } else {
            while (at < line.size() && line[at] != ',' && line[at] != '\r' && line[at] != '\n' &&
                   line[at] != '"')
                field += line[at++];
        }
        fields.push_back(field);
        if (at < line.size() && line[at] == ',') {
            ++at;
            continue;
        }
        return line.compare(at, std::string::npos, "\r\n") == 0;
    }
}

std::string Guarded(const std::string& text) {
    return !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos ? "'" + text
                                                                                       : text;
}

} // namespace

size_t WellFormedUtf8(const std::string& text, size_t at, unsigned& codePoint) {
    const unsigned lead = Byte(text, at);
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned byte = Byte(text, at + i);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF))
            return 0;
        codePoint = codePoint << 6 | (byte & 0x3F);
    }
    return length;
}

void CheckWrittenTexts(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
        const std::string json = JsonString(text);
        size_t at = 0;
        std::string back;
        Require(ParseJsonString(json, at, back) && at == json.size(), "JSON string parses",
                HexOf(json));
        Require(back == AsUnicode(text), "JSON string parses back to the text", HexOf(text));

        const std::string logLine = EscapedControls(text);
        for (const char c : logLine)
            Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F,
                    "a support-log record stays one line, without control bytes", HexOf(text));

        const std::string shown = TerminalText(text);
        for (size_t i = 0; i < shown.size();) {
            unsigned codePoint = 0;
            if (const size_t length = WellFormedUtf8(shown, i, codePoint); length > 0) {
                Require(codePoint > 0x9F, "no C1 control reaches the terminal", HexOf(text));
                i += length;
                continue;
            }
            const unsigned byte = Byte(shown, i++);
            Require(byte >= 0x20 && byte != 0x7F && (byte < 0x80 || byte > 0x9F),
                    "no control byte reaches the terminal, alone or in a malformed character",
                    HexOf(text));
        }
    }

    RecordRow row;
    std::string* const fields[] = {&row.port,       &row.serial, &row.product, &row.model,
                                   &row.oldVersion, &row.file,   &row.sha256,  &row.newVersion,
                                   &row.result,     &row.bytes,  &row.seconds, &row.confirmed};
    for (size_t i = 0; i < std::size(fields) && i < texts.size(); ++i)
        *fields[i] = texts[(i + 2) % texts.size()];
    std::vector<std::string> written;
    const std::string line = RecordLine(row);
    Require(ParseCsvLine(line, written), "the record's row parses as one CSV record", HexOf(line));
    Require(written.size() == 2 + std::size(fields), "the row keeps its fields apart");
    for (size_t i = 0; i < std::size(fields); ++i)
        Require(written[i + 2] == Guarded(*fields[i]),
                "a CSV field parses back to the text, guarded where a formula would start",
                HexOf(*fields[i]));

    std::vector<std::string> values;
    const std::string event = EventJson("unit", row);
    Require(ParseJsonObject(event, values), "a --json event parses", HexOf(event));
    Require(values.size() == 3 + std::size(fields), "the event keeps its members apart");
    for (size_t i = 0; i < std::size(fields); ++i)
        Require(values[i + 3] == AsUnicode(*fields[i]), "an event's member parses back");
}
