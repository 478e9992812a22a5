#pragma once
// orvane-update doctor: why a unit is or is not found, one check per line with what to do when
// it fails. The checks of the system (its driver, its ports' permissions, programs that take
// such ports) are each system's own (DoctorLinux.cpp, DoctorWin.cpp); the units' checks are
// shared (Doctor.cpp).

#include "discovery/EquipmentFinder.h"

#include <string>
#include <vector>

struct DoctorCheck {
    std::string name;     // "driver", "port", "udev rule", ...
    bool passed = true;   // false: fix says what to do
    bool warning = false; // not a failure, but worth knowing
    std::string detail;   // what was found
    std::string fix;      // what to do when it failed; "" when passed
};

// The system's checks of the bridges found (no port is opened by them).
std::vector<DoctorCheck> SystemChecks(const std::vector<Unit>& bridges);
