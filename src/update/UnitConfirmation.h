#pragma once
// After an update, whether the unit that was updated runs the new version. It is asked "ver\r"
// as discovery does, on whatever port it came back (a restart may give it another). Where the
// system shows bridges' serials (Windows, Linux), the unit is found by its serial among the
// bridges attached now, and a unit with another serial is never taken for it. Where it shows
// none (the web page), only the ports that came back since the update are asked, and the unit
// is the one of them that answers with its model: two such answers cannot be told apart. Either
// way, where the units cannot be told apart the answer says so.

#include "discovery/EquipmentFinder.h"
#include "update/UpdateSession.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// How often and how long the unit is asked: the console program's --verify and the web page.
constexpr std::uint32_t kConfirmIntervalMs = 500;
constexpr std::uint32_t kConfirmLimitMs = 60000;

// The unit is asked every intervalMs until it answers with the new version or limitMs have
// passed.
struct ConfirmLimits {
    std::uint32_t intervalMs = kConfirmIntervalMs;
    std::uint32_t limitMs = kConfirmLimitMs;
};

struct Confirmation {
    bool confirmed = false;
    bool answered = false; // the unit answered at least once; last holds its last answer
    VersionReply last;
    bool cancelled = false;  // keepAsking said no before the answer came
    bool indistinct = false; // its serial is empty, two attached bridges report it, or (without
                             // serials) two returning ports answer with its model
    int sameModel = 0;       // without serials: how many returning ports answered its model
    std::string otherSerial; // another unit answered on its old port, while it did not
};

// The bridges attached now, each with its port; no port opened.
using AttachedUnits = std::function<std::vector<Unit>()>;
// Opens the unit's port and asks it for its version, as EquipmentFinder::Query does.
using AskUnit = std::function<void(Unit&)>;

// Asks until the unit answers with model deviceId and the version, the limit passes or
// keepAsking says no (looked at at least every 50 ms, and between two questions).
Confirmation ConfirmVersion(const CheckedUnit& unit, int version, const ConfirmLimits& limits,
                            const AttachedUnits& attached, const std::function<bool()>& keepAsking,
                            const AskUnit& ask);
inline Confirmation ConfirmVersion(const CheckedUnit& unit, int version,
                                   const ConfirmLimits& limits, const AttachedUnits& attached,
                                   const std::function<bool()>& keepAsking,
                                   const EquipmentFinder& finder = EquipmentFinder()) {
    return ConfirmVersion(unit, version, limits, attached, keepAsking,
                          [&finder](Unit& asked) { finder.Query(asked); });
}

// Without serials: returning gives the ports that came back since the update (the unit's own,
// while it stays, and each one that appeared), each asked every round. Confirmed when exactly one
// of them answers with the unit's model and the version; two or more with its model are
// indistinct at once.
Confirmation ConfirmByAnswer(const CheckedUnit& unit, int version, const ConfirmLimits& limits,
                             const AttachedUnits& returning,
                             const std::function<bool()>& keepAsking, const AskUnit& ask);
