#pragma once
// How the console program names a unit and judges a firmware file against it: the words every
// command prints for a unit, and the reason a file may not be sent to it.

#include "cli/UnitUpdate.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "text/Messages.h"

#include <cstdint>
#include <string>

// What the unit reported, each byte taken as signed; both -1 when it never answered.
InstalledFirmware InstalledOf(const Unit& unit);

// The installed firmware ("005") and model ("1"), or "unknown" when the unit did not answer.
std::string FirmwareText(const Unit& unit);
std::string ModelText(const Unit& unit);

// Whether the unit has a port to name: a Windows port above COM255 has a number, but no name
// to open.
bool HasPort(const Unit& unit);
// The unit's port ("COM5", "/dev/ttyUSB0"), or "no port".
std::string PortText(const Unit& unit);

// A port the user may not open: the system's group for serial ports, or the udev rule, helps.
bool PermissionDenied(const Unit& unit);

// "COM5 (Orvane Amplifier, serial 0001, model 1, firmware 005)".
std::string Describe(const Unit& unit);

// Why a bridge is another device, not a unit (Unit::OtherDevice).
std::string OtherDeviceText(const Unit& unit);

// Why the file cannot be checked against the unit (no port to open, a port that could not be
// opened, no answer to the version query); "" when the unit reported its firmware. withFix adds,
// to a port this user may not open, what to do about it.
std::string WhyNotChecked(const Unit& unit, bool withFix = true);

// The check of the file against one unit: "" when it may be sent, else why not. With
// allowDowngrade an older or equal version is accepted, as Shift does in the window, but never
// another model's file; overridden then says so.
std::string Judge(const HeaderFields& fields, const Unit& unit, bool allowDowngrade,
                  bool* overridden = nullptr);

// Milliseconds as seconds with one decimal: "12.3".
std::string Seconds(std::uint32_t milliseconds);
