#pragma once
// The watcher's record of plug-ins. A unit is known by its bridge's serial number and its port,
// and handled once per plug-in: it is new when a look first finds it, and stays known, whatever
// came of its handling, until a look misses it. So a unit left plugged in after an update, a
// refusal or a failure is never taken up again, and one unplugged and plugged back is.
//
// A unit unplugged while its handling still runs is reported gone at once but forgotten only
// when the handling ends: one unit never has two handlings at once, and if it is back by then,
// the next look finds it new.

#include "discovery/EquipmentFinder.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

class PlugIns {
  public:
    struct Changes {
        std::vector<Unit> pluggedIn; // new: to be handled, their handling counted as running
        std::vector<Unit> unplugged; // gone since the last look
    };

    // One look at the units attached now, as the bridges report them (no port opened).
    Changes Look(const std::vector<Unit>& attached);
    // The handling of a unit that Look reported plugged in has ended.
    void Handled(const Unit& unit);
    // Handlings that have not ended.
    size_t Running() const;

  private:
    using Key = std::pair<std::string, std::string>; // serial, port
    static Key KeyOf(const Unit& unit) { return {unit.serial, unit.device}; }
    struct Entry {
        Unit unit;
        bool attached = true;
        bool handling = true;
    };
    std::map<Key, Entry> m_known;
};
