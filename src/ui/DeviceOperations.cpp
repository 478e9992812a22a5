// The Master COM port and the firmware file, as the window opens, checks and closes them.
#include "discovery/EquipmentFinder.h"
#include "discovery/SystemBridges.h"
#include "firmware/Compatibility.h"
#include "firmware/PublishedChecksums.h"
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
    if (!CheckPublishedChecksum())
        return FALSE;
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

BOOL CUpdateUtilityDlg::CheckPublishedChecksum() {
    const std::string& path = m_sourcePath.Str();
    std::optional<ChecksumList> list;
    std::string listPath;
    if (const FirmwareResult read = ReadChecksumListBeside(path, false, list, listPath); !read) {
        ReportError(CString(std::string(kChecksumListUnreadable) + " \"" + listPath + "\""),
                    read.systemError);
        return FALSE;
    }
    if (!list)
        return TRUE;
    std::string sha256;
    if (const FirmwareResult hashed = m_sourceFile.Sha256(sha256); !hashed) {
        ReportError(MessageFor(hashed.failed), hashed.systemError);
        return FALSE;
    }
    const ChecksumVerdict verdict = CheckListed(*list, path.substr(FileNameStart(path)), sha256);
    m_supportLog.Write("published checksum: " + listPath +
                       (verdict == ChecksumVerdict::Matches   ? ": matches"
                        : verdict == ChecksumVerdict::Differs ? ": does not match"
                                                              : ": does not list the file"));
    if (verdict == ChecksumVerdict::Differs) {
        ReportError(MessageFor(verdict));
        return FALSE;
    }
    return TRUE;
}

void CUpdateUtilityDlg::CloseSourceFile() {
    m_sourceFile.Close();
    SyncHandles();
}
