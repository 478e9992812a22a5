#include "cli/UnitSearch.h"

#include "text/Messages.h"

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

std::vector<Unit> AttachedBridges::Look(std::string* notice) {
    Held held(m_lock);
    std::uint32_t count = 0;
    const DiscoveryResult counted = m_finder.CountBridges(count);
    if (notice)
        *notice = !counted                    ? MessageFor(counted.failed)
                  : m_finder.LibraryProblem() ? ""
                                              : DeviceListNotice(m_finder.LibraryProblem().failed);
    return IdentifyUnits(m_finder, count);
}

std::optional<std::string> AttachedBridges::SerialOn(const std::string& device) {
    std::optional<std::string> serial;
    for (const Unit& unit : Look()) {
        if (unit.device != device)
            continue;
        if (serial && *serial != unit.serial)
            return std::nullopt;
        serial = unit.serial;
    }
    return serial;
}
