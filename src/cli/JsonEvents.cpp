#include "cli/JsonEvents.h"

#include "text/Utf8.h"

#include <cstdio>

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
