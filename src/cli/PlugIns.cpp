#include "cli/PlugIns.h"

#include <algorithm>
#include <set>

PlugIns::Changes PlugIns::Look(const std::vector<Unit>& attached) {
    Changes changes;
    std::set<Key> seen;
    for (const Unit& unit : attached) {
        const Key key = KeyOf(unit);
        // Two bridges that report the same serial on the same port are one plug-in.
        if (!seen.insert(key).second)
            continue;
        if (m_known.emplace(key, Entry{unit}).second)
            changes.pluggedIn.push_back(unit);
    }
    for (auto known = m_known.begin(); known != m_known.end();) {
        Entry& entry = known->second;
        if (!entry.attached || seen.count(known->first)) {
            ++known;
            continue;
        }
        changes.unplugged.push_back(entry.unit);
        entry.attached = false;
        known = entry.handling ? std::next(known) : m_known.erase(known);
    }
    return changes;
}

void PlugIns::Handled(const Unit& unit) {
    const auto known = m_known.find(KeyOf(unit));
    if (known == m_known.end())
        return;
    known->second.handling = false;
    if (!known->second.attached)
        m_known.erase(known);
}

size_t PlugIns::Running() const {
    return static_cast<size_t>(std::count_if(
        m_known.begin(), m_known.end(), [](const auto& known) { return known.second.handling; }));
}
