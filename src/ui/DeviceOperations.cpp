// The Master COM port and the firmware file, as the window opens, checks and closes them.
#include "discovery/EquipmentFinder.h"
#include "discovery/SystemBridges.h"
#include "firmware/Compatibility.h"
#include "text/Messages.h"
#include "ui/UpdateUtilityDlg.h"

BOOL CUpdateUtilityDlg::OpenMasterPort(BYTE port) {
    const int number = PortOfSelection(port);
    const LineResult opened = m_masterPort.Open(number < 0 ? "" : ComPortName(number), Line());
    SyncHandles();
    if (!opened) {
        ReportError(MessageFor(opened.failed), opened.systemError);
        return FALSE;
    }
    return TRUE;
}

void CUpdateUtilityDlg::CloseMasterPort() {
    m_masterPort.Close();
    SyncHandles();
}

BOOL CUpdateUtilityDlg::OpenSourceFile() {
    const FirmwareResult opened = m_sourceFile.Open(m_sourcePath);
    SyncHandles();
    if (!opened) {
        ReportError(MessageFor(opened.failed), opened.systemError);
        return FALSE;
    }
    return TRUE;
}

BOOL CUpdateUtilityDlg::CheckSourceHeader() {
    // Shift held down skips the check altogether: nothing is read.
    const bool overrideHeld = (::GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (DWORD seekError = ERROR_SUCCESS; !LogChosenFile(seekError)) {
        ReportError(MessageFor(FirmwareError::Rewind), seekError);
        return FALSE;
    }
    HeaderFields fields;
    if (!overrideHeld) {
        FirmwareHeader header;
        if (const FirmwareResult read = m_sourceFile.ReadHeader(header); !read) {
            ReportError(MessageFor(read.failed), read.systemError);
            return FALSE;
        }
        fields = ReadHeaderFields(header);
    }
    // The table has no slot for a port outside 0..16 (nor for the placeholder entry's 255).
    const int slot = m_selectedPort;
    InstalledFirmware installed{};
    if (slot < kEquipmentSlots)
        installed = {m_portDeviceId[slot], m_portFirmwareVersion[slot]};
    const Verdict verdict =
        CheckCompatibility(fields, slot < kEquipmentSlots ? &installed : nullptr, overrideHeld);
    LogCheck(fields, verdict, overrideHeld);
    if (verdict != Verdict::Accepted) {
        ReportError(MessageFor(verdict));
        return FALSE;
    }
    return TRUE;
}

void CUpdateUtilityDlg::CloseSourceFile() {
    m_sourceFile.Close();
    SyncHandles();
}
