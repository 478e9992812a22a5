#include "update/UnitConfirmation.h"

#include "common/Clock.h"

#include <algorithm>

namespace {
// How often a wait between two questions looks at keepAsking.
constexpr std::uint32_t kAskingSliceMs = 50;
} // namespace

Confirmation ConfirmVersion(const CheckedUnit& unit, int version, const ConfirmLimits& limits,
                            const AttachedUnits& attached, const std::function<bool()>& keepAsking,
                            const EquipmentFinder& finder) {
    Confirmation confirmation;
    if (unit.serial.empty()) {
        confirmation.indistinct = true;
        return confirmation;
    }
    const std::uint64_t start = MonotonicMs();
    for (std::uint64_t next = start;;) {
        for (std::uint64_t now = MonotonicMs(); now < next; now = MonotonicMs()) {
            if (!keepAsking()) {
                confirmation.cancelled = true;
                return confirmation;
            }
            PauseMs(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(kAskingSliceMs, next - now)));
        }
        if (!keepAsking()) {
            confirmation.cancelled = true;
            return confirmation;
        }
        const std::vector<Unit> units = attached();
        std::vector<Unit> same, onOldPort;
        for (const Unit& found : units) {
            if (found.serial == unit.serial)
                same.push_back(found);
            else if (found.device == unit.device && !found.device.empty())
                onOldPort.push_back(found);
        }
        if (same.size() > 1) {
            confirmation.indistinct = true;
            return confirmation;
        }
        if (same.size() == 1) {
            Unit asked = same.front();
            finder.Query(asked);
            if (asked.answered) {
                confirmation.answered = true;
                confirmation.otherSerial.clear();
                confirmation.last = asked.reply;
                if (asked.reply.deviceId == unit.reply.deviceId &&
                    static_cast<signed char>(asked.reply.version) == version) {
                    confirmation.confirmed = true;
                    return confirmation;
                }
            }
        } else if (onOldPort.size() == 1 && !confirmation.answered) {
            // Only to say who is there: its answer never confirms the update.
            Unit asked = onOldPort.front();
            finder.Query(asked);
            if (asked.answered)
                confirmation.otherSerial = asked.serial;
        }
        const std::uint64_t now = MonotonicMs();
        next = std::max(next + limits.intervalMs, now);
        if (next - start > limits.limitMs)
            return confirmation;
    }
}
