#pragma once
// Finds the units: the bridges that the bridge library reports, the COM port the system gave
// each one, and the answer of the unit behind each port to the version query.

#include "common/Outcome.h"
#include "device/SerialLine.h"
#include "device/UnitCommands.h"

#include <windows.h>

#include <functional>
#include <string>

enum class DiscoveryError {
    None,
    LibraryMissing,      // the bridge library, or one of its calls, cannot be had
    LibraryOtherBitness, // the library found is 32-bit beside a 64-bit program, or the reverse
};
using DiscoveryResult = Outcome<DiscoveryError>;

// One readable bridge and what the unit behind it answered.
struct Unit {
    DWORD index = 0;     // the bridge's index in the bridge library
    std::string product; // the bridge's product text, at most 127 characters
    std::string serial;  // its serial number, at most 63 characters
    WORD vid = 0;
    WORD pid = 0;
    int port = -1;         // COM port number; -1 when the registry names none
    LineResult portOpened; // why the port could not be opened and configured
    bool answered = false; // the version query answered; reply holds the two bytes
    VersionReply reply;

    // The selected port travels as one byte: a port above 255 would name another unit's port,
    // so such a unit is neither queried nor ever programmed.
    bool Selectable() const { return port >= 0 && port <= 255; }
};

class EquipmentFinder {
  public:
    explicit EquipmentFinder(const LineSettings& line = {}) : m_line(line) {}

    // How many bridges the library reports (its count call, ordinal 1). 0 when the library
    // cannot be loaded or the count fails.
    DiscoveryResult CountBridges(DWORD& count) const;

    // Examines bridges 0 to count - 1 in order and calls onUnit for each one whose identity
    // could be read, once its port has been queried and closed again. A bridge whose identity
    // cannot be read is passed over. Between the bridge library's release of a bridge and the
    // open of its port there is a pause, as the bridge needs it.
    void Examine(DWORD count, const std::function<void(const Unit&)>& onUnit) const;

  private:
    // The port of a bridge by the lookup that fits the system: the NT layout on the NT family,
    // the legacy layout on the Windows 9x family, none on anything else.
    static int PortOf(WORD vid, WORD pid, const char* serial);

    LineSettings m_line;
};
