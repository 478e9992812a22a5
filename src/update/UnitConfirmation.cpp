#include "update/UnitConfirmation.h"

#include "common/Clock.h"

#include <algorithm>

namespace {
// How often a wait between two questions looks at keepAsking.
constexpr std::uint32_t kAskingSliceMs = 50;

// Calls round every intervalMs until it says its answer is final or limitMs have passed; false
// when keepAsking said no first.
bool AskEvery(const ConfirmLimits& limits, const std::function<bool()>& keepAsking,
              const std::function<bool()>& round) {
    const std::uint64_t start = MonotonicMs();
    for (std::uint64_t next = start;;) {
        for (std::uint64_t now = MonotonicMs(); now < next; now = MonotonicMs()) {
            if (!keepAsking())
                return false;
            PauseMs(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(kAskingSliceMs, next - now)));
        }
        if (!keepAsking())
            return false;
        if (round())
            return true;
        const std::uint64_t now = MonotonicMs();
        next = std::max(next + limits.intervalMs, now);
        if (next - start > limits.limitMs)
            return true;
    }
}

bool RunsVersion(const Unit& asked, const CheckedUnit& unit, int version) {
    return asked.reply.deviceId == unit.reply.deviceId &&
           static_cast<signed char>(asked.reply.version) == version;
}

} // namespace

Confirmation ConfirmVersion(const CheckedUnit& unit, int version, const ConfirmLimits& limits,
                            const AttachedUnits& attached, const std::function<bool()>& keepAsking,
                            const AskUnit& ask) {
    Confirmation confirmation;
    if (unit.serial.empty()) {
        confirmation.indistinct = true;
        return confirmation;
    }
    confirmation.cancelled = !AskEvery(limits, keepAsking, [&] {
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
            return true;
        }
        if (same.size() == 1) {
            Unit asked = same.front();
            ask(asked);
            if (asked.answered) {
                confirmation.answered = true;
                confirmation.otherSerial.clear();
                confirmation.last = asked.reply;
                if (RunsVersion(asked, unit, version)) {
                    confirmation.confirmed = true;
                    return true;
                }
            }
        } else if (onOldPort.size() == 1 && !confirmation.answered) {
            // Only to say who is there: its answer never confirms the update.
            Unit asked = onOldPort.front();
            ask(asked);
            if (asked.answered)
                confirmation.otherSerial = asked.serial;
        }
        return false;
    });
    return confirmation;
}

Confirmation ConfirmByAnswer(const CheckedUnit& unit, int version, const ConfirmLimits& limits,
                             const AttachedUnits& returning,
                             const std::function<bool()>& keepAsking, const AskUnit& ask) {
    Confirmation confirmation;
    confirmation.cancelled = !AskEvery(limits, keepAsking, [&] {
        std::vector<Unit> ofModel;
        for (Unit found : returning()) {
            ask(found);
            if (found.answered && found.reply.deviceId == unit.reply.deviceId)
                ofModel.push_back(found);
        }
        confirmation.sameModel = static_cast<int>(ofModel.size());
        if (ofModel.size() > 1) {
            confirmation.indistinct = true;
            return true;
        }
        if (ofModel.size() == 1) {
            confirmation.answered = true;
            confirmation.last = ofModel.front().reply;
            confirmation.confirmed = RunsVersion(ofModel.front(), unit, version);
        }
        return confirmation.confirmed;
    });
    return confirmation;
}
