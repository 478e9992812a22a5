#include "cli/PortArgument.h"

#include <sys/stat.h>

const char* const kPortKind = "serial port";
const char* const kPortPlaceholder = "/dev/ttyUSBn";
const char* const kPortExample = "/dev/ttyUSB0";
const char* const kPortNameRule = "is not a port's device path, such as /dev/ttyUSB0";
const char* const kSystemListSource = "sysfs";
const char* const kBridgeSourcesHelp = "sysfs";
const char* const kNoUnitCauses = "no equipment, no unit on that port or with that serial, or a\n"
                                  "       port that cannot be opened for want of permission";

namespace {
// The device node a path leads to, links (such as /dev/serial/by-id/...) followed by the system.
// Compared as a file rather than by resolved name: realpath aborts under umockdev on a tty node.
bool NodeOf(const std::string& path, struct stat& node) {
    return ::stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode);
}
} // namespace

std::optional<std::string> PortArgument(const std::string& word) {
    if (word.size() < 2 || word[0] != '/')
        return std::nullopt;
    return word;
}

bool SamePort(const std::string& device, const std::string& named) {
    struct stat first {
    }, second{};
    return device == named || (NodeOf(device, first) && NodeOf(named, second) &&
                               first.st_dev == second.st_dev && first.st_ino == second.st_ino);
}
