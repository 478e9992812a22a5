#pragma once
// The console program's search for units: the bridges are read one after another (the bridge
// library is never called from two threads), then the units are asked for their versions all at
// once, each on a thread of its own, so that a search of many units takes about as long as a
// search of one.

#include "cli/Sync.h"
#include "discovery/EquipmentFinder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The units behind bridges 0 to count - 1 of the finder's last count, in the bridges' order; no
// port is opened.
std::vector<Unit> IdentifyUnits(const EquipmentFinder& finder, std::uint32_t count);

// Asks every unit given for its version at the same time; returns once every port is closed
// again.
void QueryUnits(const EquipmentFinder& finder, const std::vector<Unit*>& units);
void QueryUnits(const EquipmentFinder& finder, std::vector<Unit>& units);

// The bridges attached now, one look at a time: the bridge library is never called from two
// threads, so a command's looks (the watch's, a guarded update's check of the bridge behind its
// port, a confirmation's) take turns here.
class AttachedBridges {
  public:
    // Counts and identifies the bridges; no port is opened. notice, when given, receives what the
    // bridges' source says: the bridge library's failure, or that the bridges come from the
    // system's device list and why; "" when all is as documented.
    std::vector<Unit> Look(std::string* notice = nullptr);
    // The serial of the bridge on that port; nullopt when no bridge, or bridges that disagree,
    // report it.
    std::optional<std::string> SerialOn(const std::string& device);

  private:
    Lock m_lock;
    EquipmentFinder m_finder;
};
