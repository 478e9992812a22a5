// The watcher's record of plug-ins, driven look by look as the bridges come and go.
#include "cli/PlugIns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A unit as a look reports it: "S1@/dev/ttyUSB0" is serial S1 on /dev/ttyUSB0.
Unit Attached(const std::string& name) {
    Unit unit;
    unit.serial = name.substr(0, name.find('@'));
    unit.device = name.substr(name.find('@') + 1);
    return unit;
}

std::vector<std::string> Names(const std::vector<Unit>& units) {
    std::vector<std::string> names;
    for (const Unit& unit : units)
        names.push_back(unit.serial + "@" + unit.device);
    return names;
}

// One step: a look at the units attached (what it must report new and gone), or, when handled
// is given, the end of that unit's handling.
struct Step {
    std::vector<std::string> attached;
    std::vector<std::string> pluggedIn;
    std::vector<std::string> unplugged;
    std::string handled = "";
    size_t running = 0;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

TEST(PlugIns, EachUnitIsHandledOncePerPlugIn) {
    const std::string a = "A@/dev/ttyUSB0", b = "B@/dev/ttyUSB1", aElsewhere = "A@/dev/ttyUSB1";
    const std::vector<Scenario> scenarios = {
        {"plugged in one after another, each new once",
         {{{a}, {a}, {}, "", 1},
          {{a, b}, {b}, {}, "", 2},
          {{a, b}, {}, {}, "", 2},
          {{}, {}, {}, a, 1},
          {{a, b}, {}, {}, "", 1}}},
        {"left plugged in after its handling: never new again",
         {{{a}, {a}, {}, "", 1}, {{}, {}, {}, a, 0}, {{a}, {}, {}, "", 0}, {{a}, {}, {}, "", 0}}},
        {"unplugged and plugged back: new again",
         {{{a}, {a}, {}, "", 1}, {{}, {}, {}, a, 0}, {{}, {}, {a}, "", 0}, {{a}, {a}, {}, "", 1}}},
        {"unplugged while handled: gone at once, new again only after its handling ended",
         {{{a}, {a}, {}, "", 1},
          {{}, {}, {a}, "", 1},
          {{a}, {}, {}, "", 1},
          {{}, {}, {}, a, 0},
          {{a}, {a}, {}, "", 1}}},
        {"unplugged while handled and not back: forgotten when the handling ends",
         {{{a}, {a}, {}, "", 1}, {{}, {}, {a}, "", 1}, {{}, {}, {}, a, 0}, {{}, {}, {}, "", 0}}},
        {"the same serial on another port is another plug-in",
         {{{a}, {a}, {}, "", 1}, {{aElsewhere}, {aElsewhere}, {a}, "", 2}}},
        {"a serial reported twice on one port is one unit",
         {{{a, a}, {a}, {}, "", 1}, {{a}, {}, {}, "", 1}}},
        {"the end of a handling never reported changes nothing",
         {{{}, {}, {}, b, 0}, {{b}, {b}, {}, "", 1}}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        PlugIns plugIns;
        for (size_t i = 0; i < scenario.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            const Step& step = scenario.steps[i];
            if (!step.handled.empty()) {
                plugIns.Handled(Attached(step.handled));
            } else {
                std::vector<Unit> attached;
                for (const std::string& name : step.attached)
                    attached.push_back(Attached(name));
                const PlugIns::Changes changes = plugIns.Look(attached);
                EXPECT_EQ(Names(changes.pluggedIn), step.pluggedIn);
                EXPECT_EQ(Names(changes.unplugged), step.unplugged);
            }
            EXPECT_EQ(plugIns.Running(), step.running);
        }
    }
}

} // namespace
