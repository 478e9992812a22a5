#pragma once
// The bridges Windows itself knows, for a PC without the bridge library: present devices of the
// Ports class on the USB bus that the bridge's driver serves, read from the system's device list.

#include "discovery/EquipmentFinder.h"
#include "discovery/RegistryTexts.h"

#include <windows.h>

#include <string>
#include <vector>

// The service of the bridge maker's serial driver: a device is a bridge when it is served by it
// or has the maker's vendor ID, so that modems and other serial devices are never queried.
constexpr const char* kBridgeService = "silabser";

// Bridges in the order the system lists them. A device without a serial in its instance ID or
// without a well-formed "PortName" is passed over.
std::vector<BridgeIdentity> ListSystemBridges();
