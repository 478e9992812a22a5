#pragma once
// Whether a firmware file may be sent to a unit: a pure judgement of the file's two header
// fields against what the unit reported, so that every rule can be tested with bytes in memory.

#include "firmware/FirmwareFile.h"

#include <optional>

// Offsets of the two-character fields in the header.
constexpr std::uint32_t kDeviceIdOffset = 257;
constexpr std::uint32_t kVersionOffset = 259;

struct HeaderFields {
    std::optional<int> deviceId; // nullopt: the field is not a number
    std::optional<int> version;
};
HeaderFields ReadHeaderFields(const FirmwareHeader& header);

// What the unit reported, each byte taken as signed; a unit whose query never answered
// reports 0xFF (-1) for both.
struct InstalledFirmware {
    int deviceId;
    int version;
};

enum class Verdict {
    Accepted,
    BadField,    // a header field is not a number
    OtherModel,  // the file is meant for another device ID
    Older,       // the file's version is below the installed one
    SameVersion, // the unit already has this version
    NoSlot,      // the selection has no entry in the equipment table
};

// The rules in order: both fields must be numbers, then the device ID must match, then the
// version must be newer. With the override held (Shift) every file is accepted unread.
// installed is nullptr when the selected unit has no entry to compare with.
Verdict CheckCompatibility(const HeaderFields& fields, const InstalledFirmware* installed,
                           bool overrideHeld);

// The check with an explicit choice to allow an older or the same version (the console's
// --allow-downgrade, the page's checkbox): unlike the window's Shift it never lets another
// model's file or a bad field by. overridden, when given, says whether the choice was needed.
Verdict CheckAllowingDowngrade(const HeaderFields& fields, const InstalledFirmware& installed,
                               bool allowDowngrade, bool* overridden = nullptr);
