#pragma once
// Every text the tool shows for what the engine reports, in one table, word for word: the window
// and the console program both take their words from here.

#include "device/SerialLine.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "firmware/FirmwareFile.h"
#include "update/FirmwareTransfer.h"

// The text for a failure; "" for None and for outcomes the window shows no text for (a
// cancel, and the line's write and read failures, which the transfer words in its own terms).
const char* MessageFor(LineError error);
const char* MessageFor(FirmwareError error);
const char* MessageFor(Verdict verdict);
const char* MessageFor(TransferError error);
const char* MessageFor(DiscoveryError error);

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
