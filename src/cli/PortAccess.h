#pragma once
// Who may open a port, as the system decides it: on Linux the group that owns the port's device
// node, and orvane-update's udev rule, which gives the user at the machine's own seat access.
// Windows asks no permission of a COM port. Each system's file (PortAccessPosix.cpp,
// PortAccessWin.cpp) holds the calls; the advice's words are in text/Messages.

#include <string>

// Where orvane-update's udev rule is installed; "" when it is not (and on Windows).
std::string InstalledUdevRule();

// The group that owns the port's device node; "" when it cannot be read (and on Windows).
std::string PortGroup(const std::string& device);

// What to do when this user may not open the port: join its group, or the udev rule.
std::string PortPermissionFixFor(const std::string& device);
