// The equipment list: a refresh finds the units through the engine and lists them, and the
// window keeps to the unit the user chose.
#include "text/Messages.h"
#include "ui/OperationGuard.h"
#include "ui/UpdateUtilityDlg.h"

#include <algorithm>
#include <utility>

DWORD CUpdateUtilityDlg::CountDevices() {
    m_finder = EquipmentFinder(Line());
    std::uint32_t count = 0;
    const DiscoveryResult counted = m_finder.CountBridges(count);
    m_deviceCount = count;
    if (!counted)
        ReportError(MessageFor(counted.failed), counted.systemError);
    else
        LogBridgeSource();
    return counted.systemError;
}

void CUpdateUtilityDlg::EnumerateEquipment() {
    // A refresh of its own takes nothing from the window, so that it never shows the path
    // box's over-length box by itself.
    if (!m_automaticRefresh)
        UpdateData(TRUE);
    BeginWaitCursor();
    m_equipmentList.ResetContent();
    // A refresh of its own asks the chosen unit, the units that are new, that a notice named
    // since the last refresh or whose answer then failed; the others keep the answer listed.
    const std::vector<Unit> lastListed = std::exchange(m_listedUnits, {});
    const std::vector<NoticedDevice> noticed = std::exchange(m_noticedDevices, {});
    m_progressText.Empty();
    // A port left open by an earlier update would otherwise stay held by the tool.
    if (m_portOpen) {
        CloseMasterPort();
        m_portOpen = false;
    }
    m_finder.Examine(
        m_deviceCount,
        [&](const Unit& found) {
            Unit unit = found;
            if (!found.queried) {
                const Unit& last = *KeptListing(found, lastListed, noticed);
                unit.portOpened = last.portOpened;
                unit.answered = last.answered;
                unit.reply = last.reply;
            }
            ListUnit(unit);
        },
        [&](const Unit& unit) {
            return !m_automaticRefresh || !KeptListing(unit, lastListed, noticed);
        });
    if (m_deviceCount == 0) {
        const int entry = m_equipmentList.AddString(kNoEquipmentEntry);
        m_equipmentList.SetItemData(entry, static_cast<DWORD_PTR>(-1));
        m_equipmentList.SetCurSel(entry);
    }
    if (!m_automaticRefresh)
        UpdateData(TRUE);
    if (m_finder.Source() == BridgeSource::DeviceList) {
        m_progressText = DeviceListNotice(m_finder.LibraryProblem().failed);
        m_status.SetWindowText(m_progressText);
    }
    EndWaitCursor();
}

void CUpdateUtilityDlg::ListUnit(const Unit& unit) {
    LogUnit(unit);
    // A unit listed with its last answer had its failure reported when it happened.
    if (unit.queried && !unit.portOpened) {
        // Kept on purpose: the port layer's own message, then the refresh's.
        ReportError(MessageFor(unit.portOpened.failed), unit.portOpened.systemError);
        ReportError(kDevicePortMessage, unit.portOpened.systemError);
    }
    const bool hasSlot = unit.port >= 0 && unit.port < kEquipmentSlots;
    CString versionText = kVersionUnknown;
    if (unit.answered) {
        const signed char installed = static_cast<signed char>(unit.reply.version);
        if (hasSlot) {
            m_portDeviceId[unit.port] = static_cast<signed char>(unit.reply.deviceId);
            m_portFirmwareVersion[unit.port] = installed;
        }
        versionText.Format("%.3d", static_cast<int>(installed));
    }
    if (hasSlot)
        m_portFirmwareText[unit.port] = versionText;

    const int entry = m_equipmentList.AddString(CString(unit.product.c_str()) +
                                                ", firmware version " + versionText);
    // An entry that can never be programmed carries -1, like the placeholder entry.
    m_equipmentList.SetItemData(entry, unit.Selectable() ? static_cast<DWORD_PTR>(unit.port)
                                                         : static_cast<DWORD_PTR>(-1));
    m_equipmentList.SetCurSel(entry);
    m_listedUnits.push_back(unit);
}

void CUpdateUtilityDlg::RefreshEquipmentList() {
    if (m_operationRunning || m_transferActive)
        return;
    OperationGuard running(m_operationRunning);
    CountDevices();
    EnumerateEquipment();
    // The selection of a press, or of the first refresh, is the user's choice from now on.
    if (!m_automaticRefresh)
        ChooseSelectedUnit();
}

void CUpdateUtilityDlg::OnRefreshList() {
    m_supportLog.Write("list refresh: Refresh List pressed");
    RefreshEquipmentList();
}

void CUpdateUtilityDlg::OnEquipmentSelected() {
    m_supportLog.Write("list entry selected");
    ChooseSelectedUnit();
}

bool CUpdateUtilityDlg::SameBridge(const Unit& a, const Unit& b) {
    return a.vid == b.vid && a.pid == b.pid && a.serial == b.serial &&
           (!a.serial.empty() || a.device == b.device);
}

void CUpdateUtilityDlg::ChooseSelectedUnit() {
    const int selected = m_equipmentList.GetCurSel();
    if (selected >= 0 && selected < static_cast<int>(m_listedUnits.size()))
        m_chosenUnit = m_listedUnits[selected];
    else
        m_chosenUnit.reset();
    LogChosenUnit();
    EndChosenUnitNotice();
}

void CUpdateUtilityDlg::SelectChosenUnit() {
    // Nothing chosen yet (only the placeholder was listed): the refresh's own selection is
    // chosen, as at start.
    if (!m_chosenUnit) {
        ChooseSelectedUnit();
        return;
    }
    const auto listed =
        std::find_if(m_listedUnits.begin(), m_listedUnits.end(),
                     [this](const Unit& unit) { return SameBridge(unit, *m_chosenUnit); });
    if (listed != m_listedUnits.end()) {
        m_equipmentList.SetCurSel(static_cast<int>(listed - m_listedUnits.begin()));
        EndChosenUnitNotice();
        return;
    }
    // Missing: no other unit takes its place, so Update has nothing to program. The placeholder
    // stays, as it names no unit.
    if (!m_listedUnits.empty())
        m_equipmentList.SetCurSel(-1);
    m_chosenMissingText.Format(kChosenUnitMissingFormat, m_chosenUnit->product.c_str(),
                               m_chosenUnit->serial.c_str());
    m_status.SetWindowText(m_chosenMissingText);
    m_supportLog.Write("status line: \"" + m_chosenMissingText.Str() + "\"");
}

void CUpdateUtilityDlg::EndChosenUnitNotice() {
    if (m_chosenMissingText.IsEmpty())
        return;
    // Only the notice itself gives way: a message that replaced it stays.
    CString status;
    m_status.GetWindowText(status);
    if (status == m_chosenMissingText)
        m_status.SetWindowText(m_progressText);
    m_chosenMissingText.Empty();
}
