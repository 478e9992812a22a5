#include "discovery/EquipmentFinder.h"

#include "discovery/BridgeLibrary.h"
#include "discovery/PortLookup.h"

#include <algorithm>

namespace {
constexpr DWORD kBridgeReleaseMs = 60;

// Reads a bridge text and terminates it inside the buffer, however long the library says it is.
bool ReadBridgeText(BridgeLibrary::TextFn read, HANDLE device, char* buffer, DWORD size,
                    BYTE& length) {
    if (read(device, buffer, &length, TRUE) != 0)
        return false;
    buffer[std::min<DWORD>(length, size - 1)] = '\0';
    return true;
}

} // namespace

DiscoveryResult EquipmentFinder::CountBridges(DWORD& count) {
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
        count = static_cast<DWORD>(m_systemBridges.size());
        return DiscoveryResult::Success();
    }
    // A failed count counts nothing, whatever the library left in it.
    if (library->Count(&count) != 0)
        count = 0;
    return DiscoveryResult::Success();
}

int EquipmentFinder::PortOf(WORD vid, WORD pid, const char* serial) {
    const DWORD version = ::GetVersion() & 0x8000000F;
    if (version == 5 || version == 6)
        return LookUpPortName(vid, pid, serial);
    if (version == 0x80000004)
        return LookUpPortNameLegacy(vid, pid, serial);
    return -1;
}

void EquipmentFinder::Examine(DWORD count, const std::function<void(const Unit&)>& onUnit) const {
    if (m_source == BridgeSource::Library) {
        ExamineLibraryBridges(count, onUnit);
        return;
    }
    for (DWORD index = 0; index < count && index < m_systemBridges.size(); ++index) {
        const BridgeIdentity& bridge = m_systemBridges[index];
        Unit unit;
        unit.index = index;
        unit.product = bridge.product;
        unit.serial = bridge.serial;
        unit.vid = bridge.vid;
        unit.pid = bridge.pid;
        unit.port = bridge.port;
        Query(unit);
        onUnit(unit);
    }
}

void EquipmentFinder::ExamineLibraryBridges(DWORD count,
                                            const std::function<void(const Unit&)>& onUnit) const {
    BridgeLibrary* library = count ? BridgeLibrary::Get() : nullptr;
    char product[BridgeLibrary::kProductTextSize];
    char serial[BridgeLibrary::kSerialTextSize];
    BYTE length = 0;
    for (DWORD index = 0; library && index < count; ++index) {
        HANDLE device = nullptr;
        if (library->Open(index, &device) != 0)
            continue;
        Unit unit;
        unit.index = index;
        const bool read =
            library->Vid(device, &unit.vid) == 0 && library->Pid(device, &unit.pid) == 0 &&
            ReadBridgeText(library->ProductText, device, product, sizeof(product), length) &&
            ReadBridgeText(library->SerialText, device, serial, sizeof(serial), length);
        if (!read) {
            // Released on this path too, so the library holds no handle of a skipped bridge.
            library->Close(device);
            continue;
        }
        unit.product = product;
        unit.serial = serial;
        unit.port = PortOf(unit.vid, unit.pid, serial);
        library->Close(device);
        ::Sleep(kBridgeReleaseMs);
        Query(unit);
        onUnit(unit);
    }
}

void EquipmentFinder::Query(Unit& unit) const {
    SerialLine line;
    unit.portOpened = line.Open(unit.Selectable() ? unit.port : -1, m_line);
    // A port that could not be configured is not asked: its answer would be read at unknown
    // settings.
    if (unit.portOpened)
        unit.answered = static_cast<bool>(QueryVersion(line, unit.reply));
    line.Close();
}
