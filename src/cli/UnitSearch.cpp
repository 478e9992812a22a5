#include "cli/UnitSearch.h"

#include "cli/Sync.h"

#include <memory>

std::vector<Unit> IdentifyUnits(const EquipmentFinder& finder, std::uint32_t count) {
    std::vector<Unit> units;
    finder.Examine(
        count, [&units](const Unit& unit) { units.push_back(unit); },
        [](const Unit&) { return false; });
    return units;
}

void QueryUnits(const EquipmentFinder& finder, const std::vector<Unit*>& units) {
    std::vector<std::unique_ptr<Worker>> workers;
    for (Unit* unit : units) {
        workers.push_back(std::make_unique<Worker>());
        // Without a thread of its own, the unit is asked on this one.
        if (!workers.back()->Start([&finder, unit] { finder.Query(*unit); }))
            finder.Query(*unit);
    }
    for (const auto& worker : workers)
        worker->Join();
}

void QueryUnits(const EquipmentFinder& finder, std::vector<Unit>& units) {
    std::vector<Unit*> all;
    for (Unit& unit : units)
        all.push_back(&unit);
    QueryUnits(finder, all);
}
