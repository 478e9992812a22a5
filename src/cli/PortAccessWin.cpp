// A COM port is opened by whoever runs the program: Windows has no group to join, nor a rule.
#include "cli/PortAccess.h"

#include "text/Messages.h"

std::string InstalledUdevRule() {
    return "";
}

std::string PortGroup(const std::string&) {
    return "";
}

std::string PortPermissionFixFor(const std::string&) {
    return PortPermissionFix("", "");
}
