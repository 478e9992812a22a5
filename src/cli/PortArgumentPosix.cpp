#include "cli/PortArgument.h"

#include <climits>
#include <cstdlib>

const char* const kPortKind = "serial port";
const char* const kPortPlaceholder = "/dev/ttyUSBn";
const char* const kPortExample = "/dev/ttyUSB0";
const char* const kPortNameRule = "is not a port's device path, such as /dev/ttyUSB0";

namespace {
// The device a path leads to, links (such as /dev/serial/by-id/...) followed; the path itself
// when it leads nowhere.
std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}
} // namespace

std::optional<std::string> PortArgument(const std::string& word) {
    if (word.size() < 2 || word[0] != '/')
        return std::nullopt;
    return word;
}

bool SamePort(const std::string& device, const std::string& named) {
    return device == named || Resolved(device) == Resolved(named);
}
