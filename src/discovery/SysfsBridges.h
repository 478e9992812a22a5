#pragma once
// The bridges Linux knows: tty devices whose USB device has the bridge maker's vendor ID, read
// from sysfs as the kernel lays it out. Other makers' adapters, modems (ttyACM) and built-in
// ports (ttyS) are never listed, so they are never opened.

#include "discovery/EquipmentFinder.h"

#include <string>
#include <vector>

// Bridges ordered by their tty's name (ttyUSB0, ttyUSB1, ..., ttyUSB10), each with its device
// path under /dev. sysRoot is where sysfs is mounted.
std::vector<BridgeIdentity> ListSysfsBridges(const std::string& sysRoot = "/sys");

// The bridge maker's USB adapters on the bus, whether or not a driver gave them a tty: each one's
// product string ("" when it has none), in the bus's order.
std::vector<std::string> ListSysfsBridgeAdapters(const std::string& sysRoot = "/sys");

// Whether tty name a sorts before b: by the letters, then by the number that ends the name.
bool TtyNameBefore(const std::string& a, const std::string& b);
