// The update flow: the Update/Cancel button, opening the port and streaming the file.
#include "device/SerialPort.h"
#include "update/OperationGuard.h"
#include "update/UpdateUtilityDlg.h"

#include <vector>

void CUpdateUtilityDlg::OnUpdate() {
    if (m_deviceCount == 0)
        return;
    if (m_transferActive) {
        if (MessageBox(
                "Do you want to abort this update?\nWarning: This may result in lost memory.",
                "Cancel Transfer?", MB_YESNO) == IDYES)
            m_cancelRequested = true;
        return;
    }
    // A press dispatched while an update is prepared or finished (outside the transfer loop),
    // or while the list is refreshed, is ignored.
    if (m_operationRunning)
        return;
    OperationGuard running(m_operationRunning);

    UpdateData(TRUE);
    if (!OpenSourceFile())
        return;
    const BOOL ok = CheckSourceHeader() && ProgramDevice();
    CloseSourceFile();
    if (ok && MessageBox("Your equipment has been successfully updated", "Transfer Complete",
                         MB_OK) == IDOK)
        OnOK();
}

BOOL CUpdateUtilityDlg::ProgramDevice() {
    if (m_portOpen)
        CloseMasterPort();
    m_portOpen = OpenMasterPort(static_cast<signed char>(m_selectedPort));
    if (!m_portOpen) {
        // A port opened but not configured would otherwise stay held until the tool exits.
        CloseMasterPort();
        return FALSE;
    }
    return TransferFirmware();
}

BOOL CUpdateUtilityDlg::TransferFirmware() {
    LARGE_INTEGER fullSize{};
    if (!::GetFileSizeEx(m_hSourceFile, &fullSize)) {
        ReportError("Unable to read from source file");
        return FALSE;
    }
    if (fullSize.QuadPart > 0xFFFFFFFFLL) {
        ReportError("This file is too large to be firmware (4 GB or more)");
        return FALSE;
    }
    const DWORD fileSize = static_cast<DWORD>(fullSize.QuadPart);
    std::vector<BYTE> chunk(m_chunkSize);
    BOOL result = TRUE;
    DWORD bytesWritten = 0;
    m_progress.SetPos(0);

    m_transferActive = true;
    UpdateControls();
    BeginWaitCursor();

    if (!SendCommand(m_hComPort, Program, nullptr, 0)) {
        ReportError("Equipment not responding to Program command");
        result = FALSE;
    } else {
        m_status.SetWindowText("Sending new firmware...");
        m_progress.SetPos(0);
        for (;;) {
            DWORD n = 0;
            if (!::ReadFile(m_hSourceFile, chunk.data(), m_chunkSize, &n, nullptr)) {
                ReportError("Unable to read from source file");
                result = FALSE;
                break;
            }
            if (m_cancelRequested) {
                n = 0;
                result = FALSE;
            }
            if (n > 0) {
                DWORD written = 0;
                if (!WriteWithTimeout(m_hComPort, chunk.data(), n, &written, g_writeStallLimitMs)) {
                    ReportError("Error writing data to Master COM port");
                    result = FALSE;
                    break;
                }
                bytesWritten += n;
                // 64-bit product: exact for every size up to 4 GB.
                const DWORD percent =
                    fileSize ? static_cast<DWORD>(static_cast<unsigned long long>(bytesWritten) *
                                                  100 / fileSize)
                             : 100;
                m_progressText.Format("%d of %d bytes written (%d%%)",
                                      static_cast<int>(bytesWritten), static_cast<int>(fileSize),
                                      static_cast<int>(percent));
                m_progress.SetPos(static_cast<int>(percent));
                m_status.SetWindowText(m_progressText);
            }
            PumpMessages();
            if (n == 0)
                break;
        }
    }

    m_cancelRequested = false;
    m_transferActive = false;
    UpdateData(FALSE);
    EndWaitCursor();
    return result;
}
