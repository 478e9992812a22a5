#include "cli/Doctor.h"

#include "cli/PortAccess.h"
#include "cli/UnitText.h"
#include "discovery/SysfsBridges.h"
#include "text/Messages.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace {

bool Exists(const std::string& path) {
    struct stat node {};
    return ::stat(path.c_str(), &node) == 0;
}

// Whether a process of that name runs (its /proc/N/comm).
bool Running(const std::string& name) {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
        std::string command;
        if (std::getline(comm, command) && command == name) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

std::string UserName(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry ? entry->pw_name : std::to_string(uid);
}

DoctorCheck PortCheck(const Unit& unit, const std::string& rule) {
    DoctorCheck check{"port", true, false, PortText(unit), ""};
    struct stat node {};
    if (::stat(unit.device.c_str(), &node) != 0) {
        check.passed = false;
        check.detail += ": no such device node";
        check.fix = "plug the unit in again; its node should appear under /dev";
        return check;
    }
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04o", node.st_mode & 07777);
    const group* owner = ::getgrgid(node.st_gid);
    const std::string groupName = owner ? owner->gr_name : std::to_string(node.st_gid);
    check.detail += " owner " + UserName(node.st_uid) + ", group " + groupName + ", mode " + mode;
    if (::access(unit.device.c_str(), R_OK | W_OK) == 0) {
        check.detail += ": this user may open it";
        return check;
    }
    check.passed = false;
    check.detail += ": this user may not open it";
    check.fix = PortPermissionFix(groupName, rule);
    return check;
}

} // namespace

std::vector<DoctorCheck> SystemChecks(const std::vector<Unit>& bridges) {
    std::vector<DoctorCheck> checks;
    const bool driver =
        Exists("/sys/bus/usb-serial/drivers/cp210x") || Exists("/sys/module/cp210x");
    checks.push_back(
        {"driver", driver, false,
         driver ? "the bridge's kernel driver cp210x is present"
                : "the bridge's kernel driver cp210x is not loaded",
         driver ? "" : "sudo modprobe cp210x (on Ubuntu it is in linux-modules-extra)"});
    // An adapter on the bus without a tty is one no driver has taken.
    const size_t adapters = ListSysfsBridgeAdapters().size();
    std::string ttys;
    for (const Unit& unit : bridges)
        ttys += (ttys.empty() ? ": " : ", ") + PortText(unit);
    if (adapters > bridges.size())
        checks.push_back({"adapters", false, false,
                          std::to_string(adapters) +
                              " adapter(s) of the bridge maker (USB vendor 10c4) on the bus, " +
                              std::to_string(adapters - bridges.size()) + " without a tty" + ttys,
                          driver ? "plug the unit in again; dmesg should show cp210x taking it"
                                 : "load the driver (above), then plug the unit in again"});
    else
        checks.push_back({"adapters", !bridges.empty(), false,
                          std::to_string(bridges.size()) +
                              " adapter(s) of the bridge maker (USB vendor 10c4) with a tty" + ttys,
                          bridges.empty() ? "plug the unit in and switch it on; lsusb should show "
                                            "10c4:ea60"
                                          : ""});
    const std::string rule = InstalledUdevRule();
    checks.push_back(
        {"udev rule", true, rule.empty(),
         rule.empty() ? "not installed (the group gives access instead)" : "installed: " + rule,
         ""});
    for (const Unit& unit : bridges)
        if (!unit.device.empty())
            checks.push_back(PortCheck(unit, rule));
    if (Running("ModemManager"))
        checks.push_back({"ModemManager", true, rule.empty(),
                          rule.empty() ? "running, and may probe the ports (no udev rule tells it "
                                         "to leave them alone)"
                                       : "running; the udev rule tells it to leave the ports alone",
                          ""});
    if (Running("brltty"))
        checks.push_back({"brltty", false, false,
                          "running: it takes such adapters on some distributions",
                          "sudo systemctl mask brltty-udev.service brltty.service, or remove the "
                          "brltty package if no braille display is used"});
    return checks;
}
