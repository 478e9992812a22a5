// Bridges on Windows: the bridge library by ordinal, each bridge's COM port from the registry;
// without a usable library, the bridges in the system's device list.
#include "discovery/BridgeLibrary.h"
#include "discovery/EquipmentFinder.h"
#include "discovery/PortLookup.h"
#include "discovery/RegistryTexts.h"
#include "discovery/SystemBridges.h"

#include <algorithm>

namespace {
constexpr DWORD kBridgeReleaseMs = 60;

// Reads a bridge text, terminated inside the buffer however long the library says it is.
template <std::size_t size>
bool ReadBridgeText(BridgeLibrary::TextFn read, HANDLE device, char (&buffer)[size],
                    std::string& text) {
    BYTE length = 0;
    if (read(device, buffer, &length, TRUE) != 0)
        return false;
    text = BridgeTextIn(buffer, size, length);
    return true;
}

// The port of a bridge by the lookup that fits the system: the NT layout on the NT family, the
// legacy layout on the Windows 9x family, none on anything else.
int PortOf(WORD vid, WORD pid, const char* serial) {
    const DWORD version = ::GetVersion() & 0x8000000F;
    if (version == 5 || version == 6)
        return LookUpPortName(vid, pid, serial);
    if (version == 0x80000004)
        return LookUpPortNameLegacy(vid, pid, serial);
    return -1;
}

// A bridge's port as a device name: none when there is no port or one the window's selection
// byte cannot carry.
void NameDevice(BridgeIdentity& bridge) {
    bridge.device = bridge.port >= 0 && bridge.port <= 255 ? ComPortName(bridge.port) : "";
}

} // namespace

DiscoveryResult EquipmentFinder::CountBridges(std::uint32_t& count) {
    count = 0;
    m_source = BridgeSource::Library;
    m_libraryProblem = DiscoveryResult::Success();
    m_systemBridges.clear();
    BridgeLoadError why = BridgeLoadError::None;
    BridgeLibrary* library = BridgeLibrary::Get(&why);
    if (!library) {
        m_libraryProblem =
            why == BridgeLoadError::OtherBitness
                ? DiscoveryResult::Failure(DiscoveryError::LibraryOtherBitness,
                                           ERROR_BAD_EXE_FORMAT)
                : DiscoveryResult::Failure(DiscoveryError::LibraryMissing, ERROR_MOD_NOT_FOUND);
        m_systemBridges = ListSystemBridges();
        if (m_systemBridges.empty())
            return m_libraryProblem;
        m_source = BridgeSource::DeviceList;
        count = static_cast<std::uint32_t>(m_systemBridges.size());
        return DiscoveryResult::Success();
    }
    // A failed count counts nothing, whatever the library left in it.
    DWORD counted = 0;
    if (library->Count(&counted) == 0)
        count = counted;
    return DiscoveryResult::Success();
}

bool EquipmentFinder::Identify(std::uint32_t index, BridgeIdentity& bridge) const {
    if (m_source == BridgeSource::DeviceList) {
        if (index >= m_systemBridges.size())
            return false;
        bridge = m_systemBridges[index];
        NameDevice(bridge);
        return true;
    }
    BridgeLibrary* library = BridgeLibrary::Get();
    HANDLE device = nullptr;
    if (!library || library->Open(index, &device) != 0)
        return false;
    char product[BridgeLibrary::kProductTextSize];
    char serial[BridgeLibrary::kSerialTextSize];
    const bool read = library->Vid(device, &bridge.vid) == 0 &&
                      library->Pid(device, &bridge.pid) == 0 &&
                      ReadBridgeText(library->ProductText, device, product, bridge.product) &&
                      ReadBridgeText(library->SerialText, device, serial, bridge.serial);
    if (!read) {
        // Released on this path too, so the library holds no handle of a skipped bridge.
        library->Close(device);
        return false;
    }
    bridge.ownProduct = true;
    bridge.port = PortOf(bridge.vid, bridge.pid, bridge.serial.c_str());
    NameDevice(bridge);
    library->Close(device);
    return true;
}

std::uint32_t EquipmentFinder::ReleasePauseMs() const {
    return m_source == BridgeSource::Library ? kBridgeReleaseMs : 0;
}
