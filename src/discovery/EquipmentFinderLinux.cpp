// Bridges on Linux come from sysfs; there is no bridge library to load.
#include "discovery/EquipmentFinder.h"
#include "discovery/SysfsBridges.h"

DiscoveryResult EquipmentFinder::CountBridges(std::uint32_t& count) {
    m_source = BridgeSource::DeviceList;
    m_libraryProblem = DiscoveryResult::Success();
    m_systemBridges = ListSysfsBridges();
    count = static_cast<std::uint32_t>(m_systemBridges.size());
    return DiscoveryResult::Success();
}

bool EquipmentFinder::Identify(std::uint32_t index, BridgeIdentity& bridge) const {
    if (index >= m_systemBridges.size())
        return false;
    bridge = m_systemBridges[index];
    return true;
}

std::uint32_t EquipmentFinder::ReleasePauseMs() const {
    return 0;
}
