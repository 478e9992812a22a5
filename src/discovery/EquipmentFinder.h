#pragma once
// Finds the units: the bridges of the bridge maker, the port the system gave each one, and the
// answer of the unit behind each port to the version query. The order of the steps and the
// query are shared (EquipmentFinder.cpp); where the bridges come from is each system's own:
// the bridge library or the device list on Windows (EquipmentFinderWin.cpp), sysfs on Linux
// (EquipmentFinderLinux.cpp).

#include "common/Outcome.h"
#include "device/SerialLine.h"
#include "device/UnitCommands.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class DiscoveryError {
    None,
    LibraryMissing,      // the bridge library, or one of its calls, cannot be had
    LibraryOtherBitness, // the library found is 32-bit beside a 64-bit program, or the reverse
};
using DiscoveryResult = Outcome<DiscoveryError>;

// Where the bridges of the last count came from.
enum class BridgeSource {
    Library,    // the bridge library, as documented
    DeviceList, // the system's device list: on Windows because the library could not be used
};

// The bridge maker's USB vendor ID.
constexpr std::uint16_t kBridgeVendorId = 0x10C4;

// Whether a bridge's own product string names Orvane equipment. Every Orvane unit's bridge
// carries "Orvane" in it (the udev rule matches the same word); another maker's board with the
// same bridge chip does not.
bool NamesOrvaneEquipment(const std::string& product);

// What the system reports of a bridge, and the port it gave it.
struct BridgeIdentity {
    std::string product;
    // product is the bridge's own product string (the bridge library's, sysfs', the bus-reported
    // one); false when it is only the driver's description of the port.
    bool ownProduct = false;
    std::string serial;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    int port = -1;      // the COM port's number on Windows; -1 when there is none (and elsewhere)
    std::string device; // the port's name to open and show: "COM5", "/dev/ttyUSB0"; "" for none
};

// One readable bridge and what the unit behind it answered.
struct Unit {
    std::uint32_t index = 0; // the bridge's index in its source's order
    std::string product;     // the bridge's product text, at most 127 characters
    bool ownProduct = false; // product is the bridge's own product string (BridgeIdentity)
    std::string serial;      // its serial number, at most 63 characters
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    int port = -1;         // COM port number on Windows; -1 when the registry names none
    std::string device;    // the port's name ("COM5", "/dev/ttyUSB0"); "" when it has none
    bool queried = false;  // its port was opened and the unit asked; the two below tell how
    LineResult portOpened; // why the port could not be opened and configured
    bool answered = false; // the version query answered; reply holds the two bytes
    VersionReply reply;
    // The bridge needs a pause between its release by the bridge library and the open of its
    // port: the port is not opened before this time of MonotonicMs.
    std::uint64_t portFreeAtMs = 0;

    // The window's selected port travels as one byte: a port above 255 would name another
    // unit's port, so such a unit is given no device name: it is neither queried nor ever
    // programmed.
    bool Selectable() const { return port >= 0 && port <= 255; }

    // Another device with the same bridge chip, not a unit: it was asked and did not answer (or
    // its port could not be opened), and its own product string does not name Orvane equipment.
    // A bridge whose product string is not known stays a unit that could not be checked.
    bool OtherDevice() const {
        return queried && !answered && ownProduct && !NamesOrvaneEquipment(product);
    }
};

// The window's selection byte names the port to program. 255 is the entry without a port (item
// data -1), so it names no port at all, never COM255: such an entry can never send firmware
// anywhere, and a unit really on COM255 is listed but cannot be programmed from the window.
constexpr std::uint8_t kNoPortSelection = 255;
constexpr int PortOfSelection(std::uint8_t selection) {
    return selection == kNoPortSelection ? -1 : selection;
}

class EquipmentFinder {
  public:
    // probe, when given, follows the lines of the queries (a trace).
    explicit EquipmentFinder(const LineSettings& line = {}, LineProbe* probe = nullptr)
        : m_line(line), m_probe(probe) {}

    // How many bridges there are. On Windows, with the library, its count call (ordinal 1); 0
    // when the count fails. When the library cannot be used, the bridges in the system's device
    // list are counted instead and remembered for Examine; only when that list has none either
    // is the library's failure returned, with a count of 0. On Linux, the bridges in sysfs.
    DiscoveryResult CountBridges(std::uint32_t& count);

    // The source of the last count, and why the library was passed over when it was.
    BridgeSource Source() const { return m_source; }
    const DiscoveryResult& LibraryProblem() const { return m_libraryProblem; }

    // Whether the unit behind a bridge is to be asked now; a unit not asked keeps queried false
    // and its port is never opened.
    using QueryChoice = std::function<bool(const Unit&)>;

    // Examines bridges 0 to count - 1 of the last count's source in order and calls onUnit for
    // each one whose identity could be read, once its port has been queried and closed again
    // (only where ask says so, when it is given). A bridge whose identity cannot be read is
    // passed over. Between the bridge library's release of a bridge and the open of its port
    // there is a pause, as the bridge needs it; a unit not asked costs no pause, so that its
    // query can wait out the pause on another thread while the next bridge is read.
    void Examine(std::uint32_t count, const std::function<void(const Unit&)>& onUnit,
                 const QueryChoice& ask = nullptr) const;

    // Waits for the unit's portFreeAtMs, opens its port with the finder's settings and asks the
    // unit for its version. Safe to call for several units at once: it uses no state of the
    // finder but its settings.
    void Query(Unit& unit) const;

  private:
    // The identity of bridge index of the last count's source; false when it cannot be read.
    // The system's file.
    bool Identify(std::uint32_t index, BridgeIdentity& bridge) const;
    // The pause a bridge of the last count's source needs after being read, before its port is
    // opened. The system's file.
    std::uint32_t ReleasePauseMs() const;

    LineSettings m_line;
    LineProbe* m_probe;
    BridgeSource m_source = BridgeSource::Library;
    DiscoveryResult m_libraryProblem = DiscoveryResult::Success();
    std::vector<BridgeIdentity> m_systemBridges;
};
