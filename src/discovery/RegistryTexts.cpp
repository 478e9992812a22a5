#include "discovery/RegistryTexts.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace {

constexpr std::uint32_t kQuerySize = kValueBufferSize - 1;

// Four hex digits after the tag (e.g. "VID_") wherever it stands in the ID.
bool HexWordAfter(const std::string& id, const char* tag, std::uint16_t& value) {
    std::string upper = id;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t at = upper.find(tag);
    if (at == std::string::npos || upper.size() < at + std::strlen(tag) + 4)
        return false;
    unsigned result = 0;
    for (size_t i = at + std::strlen(tag), end = i + 4; i < end; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(upper[i])))
            return false;
        result = result * 16 + (std::isdigit(static_cast<unsigned char>(upper[i]))
                                    ? upper[i] - '0'
                                    : upper[i] - 'A' + 10);
    }
    value = static_cast<std::uint16_t>(result);
    return true;
}

} // namespace

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text.size() >= length &&
           std::equal(prefix, prefix + length, text.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

int PortNumberFromName(char* value, std::uint32_t bytesRead) {
    value[std::min(bytesRead, kQuerySize)] = '\0';
    if (std::strlen(value) < 3)
        return -1;
    value[0] = value[1] = value[2] = '0';
    long long number = 0;
    for (const char* digit = value; *digit >= '0' && *digit <= '9'; ++digit) {
        number = number * 10 + (*digit - '0');
        if (number > INT_MAX)
            return -1;
    }
    return static_cast<int>(number);
}

bool UsbIdsFromDeviceId(const std::string& id, std::uint16_t& vid, std::uint16_t& pid) {
    return HexWordAfter(id, "VID_", vid) && HexWordAfter(id, "PID_", pid);
}

std::string SerialFromInstanceId(const std::string& instanceId) {
    const size_t first = instanceId.find('\\');
    const size_t last = instanceId.find_last_of('\\');
    if (first == std::string::npos || last == first || last + 1 >= instanceId.size())
        return "";
    const std::string serial = instanceId.substr(last + 1);
    // Windows makes up an ID with '&' in it for a device that reports no serial.
    return serial.find('&') == std::string::npos ? serial : "";
}

std::string ComPortName(int port) {
    return "COM" + std::to_string(port);
}

int PortNumberFromComName(const std::string& name) {
    if (!StartsWithNoCase(name, "COM") || name.size() < 4 || name.size() > 7)
        return -1;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 ? number : -1;
}

std::string BridgeTextIn(char* buffer, std::size_t size, std::size_t length) {
    buffer[std::min(length, size - 1)] = '\0';
    return buffer;
}
