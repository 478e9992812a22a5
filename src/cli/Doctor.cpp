#include "cli/Doctor.h"

#include "cli/Commands.h"
#include "cli/JsonEvents.h"
#include "cli/PortAccess.h"
#include "cli/UnitSearch.h"
#include "cli/UnitText.h"
#include "text/Messages.h"

namespace {

void Report(Console& console, const DoctorCheck& check) {
    if (console.Json()) {
        console.JsonLine("{\"check\": " + JsonString(check.name) +
                         ", \"passed\": " + (check.passed ? "true" : "false") +
                         ", \"warning\": " + (check.warning ? "true" : "false") + ", \"detail\": " +
                         JsonString(check.detail) + ", \"fix\": " + JsonString(check.fix) + "}");
        return;
    }
    const char* mark = !check.passed ? "FAIL  " : check.warning ? "note  " : "ok    ";
    console.Result(mark + check.name + ": " + check.detail);
    if (!check.fix.empty())
        console.Result("      fix: " + check.fix);
}

} // namespace

int RunDoctor(const Arguments&, Console& console) {
    EquipmentFinder finder({}, console.LineTrace());
    std::uint32_t count = 0;
    const DiscoveryResult counted = finder.CountBridges(count);
    std::vector<Unit> units = IdentifyUnits(finder, count);
    for (const DoctorCheck& check : SystemChecks(units))
        Report(console, check);
    if (!counted)
        Report(console, {"bridges", false, false, MessageFor(counted.failed),
                         "put the bridge library beside the program, or install the bridge's "
                         "driver so that the system lists its ports"});
    QueryUnits(finder, units);
    unsigned updatable = 0, equipment = 0;
    for (const Unit& unit : units) {
        if (unit.OtherDevice()) {
            Report(console,
                   {"device", true, true, Describe(unit) + ": " + OtherDeviceText(unit), ""});
            continue;
        }
        ++equipment;
        const std::string why = WhyNotChecked(unit, false);
        DoctorCheck check{"unit", why.empty(), false, Describe(unit), ""};
        if (!why.empty()) {
            check.detail += ": " + why;
            check.fix = PermissionDenied(unit) ? PortPermissionFixFor(unit.device)
                        : unit.portOpened      ? "check that the unit is switched on and its "
                                                 "cable plugged in; restart it and try again"
                                               : "close the program that holds the port, or "
                                                 "plug the unit in again";
        }
        updatable += why.empty() ? 1 : 0;
        Report(console, check);
    }
    if (!equipment)
        Report(console, {"units", false, false, kNoEquipmentEntry,
                         "plug the unit in with its USB cable and switch it on"});
    const int code = updatable ? kExitDone : kExitNoUnit;
    if (console.Json())
        console.JsonLine("{\"check\": \"summary\", \"units\": " + std::to_string(equipment) +
                         ", \"updatable\": " + std::to_string(updatable) +
                         ", \"exit\": " + std::to_string(code) + "}");
    else
        console.Result(std::to_string(updatable) + " of " + std::to_string(equipment) +
                       (equipment == 1 ? " unit" : " units") + " can be updated");
    return code;
}
