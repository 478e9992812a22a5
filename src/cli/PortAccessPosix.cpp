#include "cli/PortAccess.h"

#include "text/Messages.h"

#include <grp.h>
#include <sys/stat.h>

namespace {
// Where the .deb puts the rule, where older systems keep packaged rules, and the admin's own.
const char* const kRulePaths[] = {"/usr/lib/udev/rules.d/70-orvane-update.rules",
                                  "/lib/udev/rules.d/70-orvane-update.rules",
                                  "/etc/udev/rules.d/70-orvane-update.rules"};
} // namespace

std::string InstalledUdevRule() {
    struct stat node {};
    for (const char* path : kRulePaths)
        if (::stat(path, &node) == 0)
            return path;
    return "";
}

std::string PortGroup(const std::string& device) {
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0)
        return "";
    const group* entry = ::getgrgid(node.st_gid);
    return entry ? entry->gr_name : std::to_string(node.st_gid);
}

std::string PortPermissionFixFor(const std::string& device) {
    return PortPermissionFix(PortGroup(device), InstalledUdevRule());
}
