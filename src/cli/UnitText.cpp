#include "cli/UnitText.h"

#include "cli/PortAccess.h"
#include "cli/PortArgument.h"
#include "text/Messages.h"

#include <cstdio>

InstalledFirmware InstalledOf(const Unit& unit) {
    if (!unit.answered)
        return {-1, -1};
    return {static_cast<signed char>(unit.reply.deviceId),
            static_cast<signed char>(unit.reply.version)};
}

std::string FirmwareText(const Unit& unit) {
    return unit.answered ? ThreeDigits(InstalledOf(unit).version) : "unknown";
}

std::string ModelText(const Unit& unit) {
    return unit.answered ? std::to_string(InstalledOf(unit).deviceId) : "unknown";
}

bool HasPort(const Unit& unit) {
    return !unit.device.empty() || unit.port >= 0;
}

std::string PortText(const Unit& unit) {
    if (!unit.device.empty())
        return unit.device;
    return unit.port >= 0 ? "COM" + std::to_string(unit.port) : "no port";
}

bool PermissionDenied(const Unit& unit) {
    return !unit.portOpened && IsPermissionDenied(unit.portOpened.systemError);
}

std::string Describe(const Unit& unit) {
    return PortText(unit) + " (" + unit.product + ", serial " + unit.serial + ", model " +
           ModelText(unit) + ", firmware " + FirmwareText(unit) + ")";
}

std::string OtherDeviceText(const Unit& unit) {
    return std::string("another device, not Orvane equipment: ") +
           (unit.portOpened ? "it did not answer" : "its port could not be opened") +
           " and its product string does not name Orvane";
}

std::string WhyNotChecked(const Unit& unit, bool withFix) {
    if (unit.device.empty())
        return unit.port < 0 ? std::string("the system names no ") + kPortKind + " for it"
                             : PortText(unit) + " is above COM255, which cannot be named";
    if (!unit.portOpened)
        return std::string(MessageFor(unit.portOpened.failed)) + ": " +
               SystemErrorText(unit.portOpened.systemError) +
               (withFix && PermissionDenied(unit) ? "; " + PortPermissionFixFor(unit.device) : "");
    if (!unit.answered)
        return "the unit did not answer the version query";
    return "";
}

std::string Judge(const HeaderFields& fields, const Unit& unit, bool allowDowngrade,
                  bool* overridden) {
    if (std::string unchecked = WhyNotChecked(unit); !unchecked.empty())
        return unchecked;
    return MessageFor(
        CheckAllowingDowngrade(fields, InstalledOf(unit), allowDowngrade, overridden));
}

std::string Seconds(std::uint32_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", milliseconds / 1000.0);
    return text;
}
