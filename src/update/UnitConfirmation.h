#pragma once
// After an update, whether the unit that was updated runs the new version. The unit is found by
// its bridge's serial among the bridges attached now, on whatever port it came back (a restart
// may give it another), and asked "ver\r" as discovery does. A unit with another serial is never
// taken for it, and where the serial cannot tell units apart the answer says so.

#include "discovery/EquipmentFinder.h"
#include "update/UpdateSession.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The unit is asked every intervalMs until it answers with the new version or limitMs have
// passed.
struct ConfirmLimits {
    std::uint32_t intervalMs = 500;
    std::uint32_t limitMs = 60000;
};

struct Confirmation {
    bool confirmed = false;
    bool answered = false; // the unit answered at least once; last holds its last answer
    VersionReply last;
    bool cancelled = false;  // keepAsking said no before the answer came
    bool indistinct = false; // its serial is empty, or two attached bridges report it
    std::string otherSerial; // another unit answered on its old port, while it did not
};

// The bridges attached now, each with its port; no port opened.
using AttachedUnits = std::function<std::vector<Unit>()>;

// Asks until the unit answers with model deviceId and the version, the limit passes or
// keepAsking says no (looked at at least every 50 ms, and between two questions).
Confirmation ConfirmVersion(const CheckedUnit& unit, int version, const ConfirmLimits& limits,
                            const AttachedUnits& attached, const std::function<bool()>& keepAsking,
                            const EquipmentFinder& finder = EquipmentFinder());
