#include "firmware/Compatibility.h"

#include "firmware/HeaderField.h"

HeaderFields ReadHeaderFields(const FirmwareHeader& header) {
    return {ParseHeaderField(header.data() + kDeviceIdOffset),
            ParseHeaderField(header.data() + kVersionOffset)};
}

Verdict CheckCompatibility(const HeaderFields& fields, const InstalledFirmware* installed,
                           bool overrideHeld) {
    if (overrideHeld)
        return Verdict::Accepted;
    if (!fields.deviceId || !fields.version)
        return Verdict::BadField;
    if (!installed)
        return Verdict::NoSlot;
    if (*fields.deviceId != installed->deviceId)
        return Verdict::OtherModel;
    if (*fields.version < installed->version)
        return Verdict::Older;
    if (*fields.version == installed->version)
        return Verdict::SameVersion;
    return Verdict::Accepted;
}

Verdict CheckAllowingDowngrade(const HeaderFields& fields, const InstalledFirmware& installed,
                               bool allowDowngrade, bool* overridden) {
    const Verdict verdict = CheckCompatibility(fields, &installed, false);
    const bool downgrade = verdict == Verdict::Older || verdict == Verdict::SameVersion;
    if (overridden)
        *overridden = allowDowngrade && downgrade;
    return allowDowngrade && downgrade ? Verdict::Accepted : verdict;
}
