#pragma once
// The console program's search for units: the bridges are read one after another (the bridge
// library is never called from two threads), then the units are asked for their versions all at
// once, each on a thread of its own, so that a search of many units takes about as long as a
// search of one.

#include "discovery/EquipmentFinder.h"

#include <cstdint>
#include <vector>

// The units behind bridges 0 to count - 1 of the finder's last count, in the bridges' order; no
// port is opened.
std::vector<Unit> IdentifyUnits(const EquipmentFinder& finder, std::uint32_t count);

// Asks every unit given for its version at the same time; returns once every port is closed
// again.
void QueryUnits(const EquipmentFinder& finder, const std::vector<Unit*>& units);
void QueryUnits(const EquipmentFinder& finder, std::vector<Unit>& units);
