// The update flow: the Update/Cancel button, opening the port and streaming the file.
#include "text/Messages.h"
#include "ui/OperationGuard.h"
#include "ui/UpdateUtilityDlg.h"
#include "update/FirmwareTransfer.h"

#include <cstdio>

namespace {
// Shows the transfer in the window and keeps the window answering while the unit is written
// to: the pump runs after every chunk and while a write waits, so Cancel can be pressed.
class WindowProgress : public TransferObserver {
  public:
    explicit WindowProgress(CUpdateUtilityDlg& dialog) : m_dialog(dialog) {}
    bool Started() const { return m_started; }
    // The program command went out and the file is being sent.
    bool SendingFile() const { return m_sendingFile; }
    DWORD Done() const { return m_done; }
    DWORD Total() const { return m_total; }
    ULONGLONG StartTick() const { return m_startTick; }

    bool Starting(std::uint32_t total) override {
        m_started = true;
        m_total = total;
        m_startTick = ::GetTickCount64();
        m_dialog.m_progress.SetPos(0);
        m_dialog.m_transferActive = true;
        m_dialog.UpdateControls();
        m_dialog.BeginWaitCursor();
        // A Cancel confirmed in the pump of this presentation change is answered after the
        // program command, as the window always has.
        return true;
    }
    bool Sending() override {
        m_sendingFile = true;
        m_dialog.m_status.SetWindowText(kSendingMessage);
        m_dialog.m_progress.SetPos(0);
        return GoOn();
    }
    bool Written(std::uint32_t done, std::uint32_t total) override {
        m_done = done;
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
        return GoOn();
    }
    // Every read is followed by a pump, the last one too, so a Cancel pressed at the end of the
    // file is still answered.
    void Ending() override { m_dialog.PumpMessages(); }

  private:
    // A cancel, or the removal of the unit's port, stops the transfer.
    bool GoOn() const { return !m_dialog.m_cancelRequested && !m_dialog.m_portRemoved; }

    CUpdateUtilityDlg& m_dialog;
    bool m_started = false;
    bool m_sendingFile = false;
    DWORD m_done = 0;
    DWORD m_total = 0;
    ULONGLONG m_startTick = 0;
};

// "4096 of 10240 bytes in 0.352 s, 11636 B/s"
std::string Throughput(const WindowProgress& progress) {
    const ULONGLONG elapsedMs = ::GetTickCount64() - progress.StartTick();
    char text[128];
    std::snprintf(text, sizeof(text), "%lu of %lu bytes in %.3f s, %llu B/s",
                  static_cast<unsigned long>(progress.Done()),
                  static_cast<unsigned long>(progress.Total()), elapsedMs / 1000.0,
                  elapsedMs ? progress.Done() * 1000ULL / elapsedMs : 0ULL);
    return text;
}
} // namespace

void CUpdateUtilityDlg::OnUpdate() {
    if (m_deviceCount == 0)
        return;
    if (m_transferActive) {
        if (ShowMessage(kCancelQuestion, kCancelCaption, MB_YESNO) == IDYES)
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
    if (ok && ShowMessage(kCompletedMessage, kCompletedCaption, MB_OK) == IDOK)
        OnOK();
}

BOOL CUpdateUtilityDlg::ProgramDevice() {
    // The unit written to, so that a removal notice can be matched to it.
    const int selected = m_equipmentList.GetCurSel();
    m_transferUnit = selected >= 0 && selected < static_cast<int>(m_listedUnits.size())
                         ? m_listedUnits[selected]
                         : Unit{};
    m_transferUnit.port = PortOfSelection(m_selectedPort);
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
    m_portRemoved = false;
    m_supportLog.Write("transfer started: COM" + std::to_string(m_transferUnit.port));
    TransferResult result =
        SendFirmware(m_masterPort, m_sourceFile, progress, {m_chunkSize, m_writeStallLimitMs});
    // A unit unplugged during the write fails as the write to it would have, only sooner.
    if (!result && result.failed == TransferError::Cancelled && m_portRemoved)
        result = TransferResult::Failure(progress.SendingFile() ? TransferError::ChunkWrite
                                                                : TransferError::ProgramCommand,
                                         ERROR_DEVICE_REMOVED);
    const std::string moved = Throughput(progress);
    // The unit written to may hold other firmware now: the next refresh of the window's own
    // asks it again instead of listing its last answer.
    m_noticedDevices.push_back({DBT_DEVTYP_PORT, "COM" + std::to_string(m_transferUnit.port)});
    // A cancel shows nothing; every failure is reported while the transfer is still shown.
    if (!result && result.failed != TransferError::Cancelled)
        ReportError(MessageFor(result.failed), result.systemError);
    if (result)
        m_supportLog.Write("transfer ended: completed, " + moved);
    else if (result.failed == TransferError::Cancelled)
        m_supportLog.Write("transfer ended: cancelled at byte " + std::to_string(progress.Done()) +
                           ", " + moved);
    else
        m_supportLog.Write("transfer ended: failed with \"" +
                           std::string(MessageFor(result.failed)) + "\", " + moved);
    if (progress.Started()) {
        m_portRemoved = false;
        m_cancelRequested = false;
        m_transferActive = false;
        UpdateData(FALSE);
        EndWaitCursor();
    }
    return result ? TRUE : FALSE;
}
