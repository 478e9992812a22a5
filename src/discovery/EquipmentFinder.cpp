#include "discovery/EquipmentFinder.h"

#include "common/Clock.h"

bool NamesOrvaneEquipment(const std::string& product) {
    return product.find("Orvane") != std::string::npos;
}

void EquipmentFinder::Examine(std::uint32_t count, const std::function<void(const Unit&)>& onUnit,
                              const QueryChoice& ask) const {
    for (std::uint32_t index = 0; index < count; ++index) {
        BridgeIdentity bridge;
        if (!Identify(index, bridge))
            continue;
        Unit unit;
        unit.index = index;
        unit.product = bridge.product;
        unit.ownProduct = bridge.ownProduct;
        unit.serial = bridge.serial;
        unit.vid = bridge.vid;
        unit.pid = bridge.pid;
        unit.port = bridge.port;
        unit.device = bridge.device;
        unit.portFreeAtMs = MonotonicMs() + ReleasePauseMs();
        if (!ask || ask(unit))
            Query(unit);
        onUnit(unit);
    }
}

void EquipmentFinder::Query(Unit& unit) const {
    if (const std::uint64_t now = MonotonicMs(); now < unit.portFreeAtMs)
        PauseMs(static_cast<std::uint32_t>(unit.portFreeAtMs - now));
    unit.queried = true;
    SerialLine line(m_probe);
    unit.portOpened = line.Open(unit.device, m_line);
    // A port that could not be configured is not asked: its answer would be read at unknown
    // settings.
    if (unit.portOpened)
        unit.answered = static_cast<bool>(QueryVersion(line, unit.reply));
    line.Close();
}
