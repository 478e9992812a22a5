#include "cli/JsonEvents.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 character that starts at text[at]: no overlong form, no
// surrogate, nothing above U+10FFFF, none cut short by the end of the text. 0 when there is none.
size_t Utf8CharacterLength(const std::string& text, size_t at) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range, narrower for some leads
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += text[at++];
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            json += escaped;
            ++at;
        } else if (byte < 0x80) {
            json += text[at++];
        } else if (const size_t length = Utf8CharacterLength(text, at); length != 0) {
            json.append(text, at, length);
            at += length;
        } else {
            json += static_cast<char>(0xC0 | byte >> 6);
            json += static_cast<char>(0x80 | (byte & 0x3F));
            ++at;
        }
    }
    return json + "\"";
}

std::string EventJson(const std::string& event, const RecordRow& row, const JsonMembers& extra) {
    std::string json = "{\"event\": " + JsonString(event) + ", \"time\": " + JsonString(UtcNow()) +
                       ", \"host\": " + JsonString(HostName());
    const std::pair<const char*, const std::string*> fields[] = {
        {"port", &row.port},     {"serial", &row.serial},          {"product", &row.product},
        {"model", &row.model},   {"old_version", &row.oldVersion}, {"file", &row.file},
        {"sha256", &row.sha256}, {"new_version", &row.newVersion}, {"result", &row.result},
        {"bytes", &row.bytes},   {"seconds", &row.seconds},        {"confirmed", &row.confirmed}};
    for (const auto& [name, value] : fields)
        json += std::string(", \"") + name + "\": " + JsonString(*value);
    return json + MembersJson(extra) + "}";
}

std::string MembersJson(const JsonMembers& members) {
    std::string json;
    for (const auto& [name, value] : members)
        json += ", " + JsonString(name) + ": " + value;
    return json;
}

std::string TotalsJson(const std::vector<std::pair<std::string, unsigned>>& counts, int exitCode) {
    std::string json = "{\"event\": \"totals\", \"time\": " + JsonString(UtcNow());
    for (const auto& [name, count] : counts)
        json += ", " + JsonString(name) + ": " + std::to_string(count);
    return json + ", \"exit\": " + std::to_string(exitCode) + "}";
}
