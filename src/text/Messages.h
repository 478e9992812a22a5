#pragma once
// Every text the tool shows for what the engine reports, in one table, word for word: the window
// and the console program both take their words from here.

#include "device/SerialLine.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "firmware/FirmwareFile.h"
#include "firmware/PublishedChecksums.h"
#include "update/FirmwareTransfer.h"
#include "update/UnitConfirmation.h"
#include "update/UpdateSession.h"

#include <string>

// The text for a failure; "" for None and for outcomes the window shows no text for (a
// cancel, and the line's write and read failures, which the transfer words in its own terms).
const char* MessageFor(LineError error);
const char* MessageFor(FirmwareError error);
const char* MessageFor(Verdict verdict);
const char* MessageFor(TransferError error);
const char* MessageFor(DiscoveryError error);
// Why a guarded update failed, with the system's words where it gave some: "Error opening Master
// COM port: Device or resource busy", "the unit on /dev/ttyUSB0 is not the one checked: it
// answers model 2, firmware 007, not model 1, firmware 005". "" for a cancel.
std::string SessionFailureText(const SessionResult& result, const CheckedUnit& unit);

// "005": a version or model number as the window shows it.
std::string ThreeDigits(int value);

// Why a file is refused for the SHA256SUMS beside it: Differs, and NotListed (which refuses only
// in a folder given to the console program).
const char* MessageFor(ChecksumVerdict verdict);
// Why a model gets no file from a folder or a catalog (NewestFor): "model 1 is ambiguous:
// Amplifier-a.ace and Amplifier-b.ace are both version 006".
std::string AmbiguousModelText(int model, const std::string& one, const std::string& other,
                               int version);

// The result of an update asked to confirm version: "updated, version 006 confirmed", or "sent,
// not confirmed: " and what the unit last answered, that it did not answer, or that it cannot be
// told from other units.
std::string ConfirmationText(const Confirmation& confirmation, int version);

// Why a file of the page's catalog is refused: it is not the file the catalog lists (size,
// SHA-256, or the header's model and version).
std::string NotAsListedText(const std::string& name, std::uint32_t size, const std::string& sha256,
                            int model, int version, std::uint32_t listedSize,
                            const std::string& listedSha256, int listedModel, int listedVersion);

// The status line after a refresh that found its bridges in the system's device list, naming
// why the bridge library was not used.
const char* DeviceListNotice(DiscoveryError libraryProblem);

// Before the path and the system's words when a SHA256SUMS beside the firmware cannot be read.
constexpr const char* kChecksumListUnreadable = "Unable to read the published checksums";
// After a file's name when the SHA256SUMS of a folder given to the console program lists it and
// the folder does not hold it.
constexpr const char* kListedFileAbsent =
    "This file is listed in SHA256SUMS but is not in the folder";

// After the port layer's own message, when a refresh cannot open a unit's port.
constexpr const char* kDevicePortMessage = "Error opening device port";
constexpr const char* kNoEquipmentEntry = "No Orvane equipment connected";
constexpr const char* kVersionUnknown = "Unknown";
constexpr const char* kSendingMessage = "Sending new firmware...";
constexpr const char* kProgressFormat = "%d of %d bytes written (%d%%)";
constexpr const char* kCompletedMessage = "Your equipment has been successfully updated";
constexpr const char* kCompletedCaption = "Transfer Complete";
constexpr const char* kCancelQuestion =
    "Do you want to abort this update?\nWarning: This may result in lost memory.";
constexpr const char* kCancelCaption = "Cancel Transfer?";
constexpr const char* kErrorCaption = "Error";
// What to do when a port may not be opened for want of permission (Linux): join group, the
// port's (dialout when it is not known or is root's), which serves every login, ssh and services
// included; the udev rule, installed at installedRule ("" when it is not), serves only the user
// at the machine's own seat.
std::string PortPermissionFix(const std::string& group, const std::string& installedRule);

// The window's additions: the title-bar menu's item, and the status lines of a refused drop and
// of a log folder that cannot be shown.
constexpr const char* kOpenLogFolderItem = "Open log folder";
constexpr const char* kLogFolderFailedMessage = "The log folder cannot be opened";
constexpr const char* kDropBusyMessage = "Files cannot be dropped while an update is running";
constexpr const char* kDropSeveralMessage = "Drop one firmware file at a time";
constexpr const char* kDropFolderMessage = "A folder cannot be transferred: drop a firmware file";
constexpr const char* kDropTooLongMessage = "The dropped file's path is longer than 260 characters";
// The status line while the unit the user chose is missing from the list after a refresh of the
// window's own: its product text and serial number.
constexpr const char* kChosenUnitMissingFormat = "The chosen unit is not connected: %s, serial %s";
