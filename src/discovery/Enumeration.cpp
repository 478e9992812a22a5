// Finding the bridges, querying the equipment behind each one and filling the list.
#include "discovery/BridgeLibrary.h"
#include "update/OperationGuard.h"
#include "update/UpdateUtilityDlg.h"

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

bool HasSlot(int port) {
    return port >= 0 && port < kEquipmentSlots;
}

// The port travels as one byte: a number above 255 would name another unit's port, so such a
// port is opened as -1 (no port) and listed with item data -1.
bool FitsInByte(int port) {
    return port >= 0 && port <= 255;
}
} // namespace

DWORD CUpdateUtilityDlg::CountDevices() {
    BridgeLoadError why = BridgeLoadError::None;
    BridgeLibrary* library = BridgeLibrary::Get(&why);
    if (!library) {
        m_deviceCount = 0;
        if (why == BridgeLoadError::OtherBitness) {
            ReportError(BridgeLibrary::kProcessBits == 64
                            ? "CP210xManufacturing.dll is a 32-bit library and this is the 64-bit "
                              "program: use the 32-bit program, or the 64-bit library"
                            : "CP210xManufacturing.dll is a 64-bit library and this is the 32-bit "
                              "program: use the 64-bit program, or the 32-bit library");
            return ERROR_BAD_EXE_FORMAT;
        }
        ReportError("Unable to load CP210xManufacturing.dll: no equipment can be found");
        return ERROR_MOD_NOT_FOUND;
    }
    const int status = library->Count(&m_deviceCount);
    if (status != 0)
        m_deviceCount = 0;
    return static_cast<DWORD>(status);
}

void CUpdateUtilityDlg::EnumerateEquipment() {
    UpdateData(TRUE);
    BeginWaitCursor();
    m_equipmentList.ResetContent();
    m_progressText.Empty();
    // A port left open by an earlier update would otherwise be unreachable from now on.
    if (m_portOpen) {
        CloseMasterPort();
        m_portOpen = false;
    }

    BridgeLibrary* library = m_deviceCount ? BridgeLibrary::Get() : nullptr;
    char product[BridgeLibrary::kProductTextSize];
    char serial[BridgeLibrary::kSerialTextSize];
    BYTE length = 0;
    for (DWORD index = 0; library && index < m_deviceCount; ++index) {
        if (library->Open(index, &m_hDevice) != 0)
            continue;
        WORD vid = 0;
        WORD pid = 0;
        const bool read =
            library->Vid(m_hDevice, &vid) == 0 && library->Pid(m_hDevice, &pid) == 0 &&
            ReadBridgeText(library->ProductText, m_hDevice, product, sizeof(product), length) &&
            ReadBridgeText(library->SerialText, m_hDevice, serial, sizeof(serial), length);
        if (!read) {
            library->Close(m_hDevice);
            continue;
        }

        int port = -1;
        const DWORD version = ::GetVersion() & 0x8000000F;
        if (version == 5 || version == 6)
            port = LookUpPortName(vid, pid, serial);
        else if (version == 0x80000004)
            port = LookUpPortNameLegacy(vid, pid, serial);

        library->Close(m_hDevice);
        ::Sleep(kBridgeReleaseMs);

        if (!OpenMasterPort(static_cast<signed char>(FitsInByte(port) ? port : -1)))
            ReportError("Error opening device port");
        BYTE* reply = g_deviceCommands.versionReply;
        CString versionText;
        if (SendCommand(m_hComPort, Version, reply, kVersionReplyLength)) {
            const signed char installed = static_cast<signed char>(reply[1]);
            if (HasSlot(port)) {
                m_portDeviceId[port] = static_cast<signed char>(reply[0]);
                m_portFirmwareVersion[port] = installed;
            }
            versionText.Format("%.3d", static_cast<int>(installed));
        } else {
            versionText = "Unknown";
        }
        if (HasSlot(port))
            m_portFirmwareText[port] = versionText;

        const int entry =
            m_equipmentList.AddString(CString(product) + ", firmware version " + versionText);
        m_equipmentList.SetItemData(entry, FitsInByte(port) ? static_cast<DWORD_PTR>(port)
                                                            : static_cast<DWORD_PTR>(-1));
        m_equipmentList.SetCurSel(entry);
        CloseMasterPort();
    }
    if (m_deviceCount == 0) {
        const int entry = m_equipmentList.AddString("No Orvane equipment connected");
        m_equipmentList.SetItemData(entry, static_cast<DWORD_PTR>(-1));
        m_equipmentList.SetCurSel(entry);
    }
    UpdateData(TRUE);
    EndWaitCursor();
}

void CUpdateUtilityDlg::RefreshEquipmentList() {
    if (m_operationRunning || m_transferActive)
        return;
    OperationGuard running(m_operationRunning);
    CountDevices();
    EnumerateEquipment();
}

void CUpdateUtilityDlg::OnRefreshList() {
    RefreshEquipmentList();
}
