// The update flow: the Update/Cancel button, opening the port and streaming the file.
#include "text/Messages.h"
#include "ui/OperationGuard.h"
#include "ui/UpdateUtilityDlg.h"
#include "update/FirmwareTransfer.h"

namespace {
// Shows the transfer in the window and keeps the window answering while the unit is written
// to: the pump runs after every chunk and while a write waits, so Cancel can be pressed.
class WindowProgress : public TransferObserver {
  public:
    explicit WindowProgress(CUpdateUtilityDlg& dialog) : m_dialog(dialog) {}
    bool Started() const { return m_started; }

    void Starting(DWORD) override {
        m_started = true;
        m_dialog.m_progress.SetPos(0);
        m_dialog.m_transferActive = true;
        m_dialog.UpdateControls();
        m_dialog.BeginWaitCursor();
    }
    bool Sending() override {
        m_dialog.m_status.SetWindowText(kSendingMessage);
        m_dialog.m_progress.SetPos(0);
        return !m_dialog.m_cancelRequested;
    }
    bool Written(DWORD done, DWORD total) override {
        // 64-bit product: exact for every size up to 4 GB.
        const DWORD percent =
            total ? static_cast<DWORD>(static_cast<unsigned long long>(done) * 100 / total) : 100;
        m_dialog.m_progressText.Format(kProgressFormat, static_cast<int>(done),
                                       static_cast<int>(total), static_cast<int>(percent));
        m_dialog.m_progress.SetPos(static_cast<int>(percent));
        m_dialog.m_status.SetWindowText(m_dialog.m_progressText);
        return Waiting();
    }
    bool Waiting() override {
        m_dialog.PumpMessages();
        return !m_dialog.m_cancelRequested;
    }

  private:
    CUpdateUtilityDlg& m_dialog;
    bool m_started = false;
};
} // namespace

void CUpdateUtilityDlg::OnUpdate() {
    if (m_deviceCount == 0)
        return;
    if (m_transferActive) {
        if (MessageBox(kCancelQuestion, kCancelCaption, MB_YESNO) == IDYES)
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
    if (ok && MessageBox(kCompletedMessage, kCompletedCaption, MB_OK) == IDOK)
        OnOK();
}

BOOL CUpdateUtilityDlg::ProgramDevice() {
    if (m_portOpen)
        CloseMasterPort();
    m_portOpen = OpenMasterPort(m_selectedPort);
    if (!m_portOpen) {
        // A port opened but not configured would otherwise stay held until the tool exits.
        CloseMasterPort();
        return FALSE;
    }
    return TransferFirmware();
}

BOOL CUpdateUtilityDlg::TransferFirmware() {
    WindowProgress progress(*this);
    const TransferResult result =
        SendFirmware(m_masterPort, m_sourceFile, progress, {m_chunkSize, m_writeStallLimitMs});
    // A cancel shows nothing; every failure is reported while the transfer is still shown.
    if (!result && result.failed != TransferError::Cancelled)
        ReportError(MessageFor(result.failed));
    if (progress.Started()) {
        m_cancelRequested = false;
        m_transferActive = false;
        UpdateData(FALSE);
        EndWaitCursor();
    }
    return result ? TRUE : FALSE;
}
