#pragma once
// The bridges Windows itself knows, for a PC without the bridge library: present devices of the
// Ports class on the USB bus that the bridge's driver serves, read from the system's device list.

#include "discovery/EquipmentFinder.h"

#include <windows.h>

#include <string>
#include <vector>

// The service of the bridge maker's serial driver: a device is a bridge when it is served by it
// or has the maker's vendor ID, so that modems and other serial devices are never queried.
constexpr const char* kBridgeService = "silabser";

// Bridges in the order the system lists them. A device without a serial in its instance ID or
// without a well-formed "PortName" is passed over.
std::vector<BridgeIdentity> ListSystemBridges();

// VID and PID from a USB hardware or instance ID such as "USB\VID_10C4&PID_EA60&REV_0100".
bool UsbIdsFromDeviceId(const std::string& id, WORD& vid, WORD& pid);
// The serial number of a USB device from its instance ID ("USB\VID_..&PID_..\<serial>"); "" when
// the last part is missing or is one that Windows made up for a device without a serial.
std::string SerialFromInstanceId(const std::string& instanceId);
// The number of a port name "COM<n>" (n from 1 to 9999); -1 for any other text.
int PortNumberFromComName(const std::string& name);
// "COM5" for 5.
std::string ComPortName(int port);
