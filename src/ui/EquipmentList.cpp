// The equipment list: a refresh finds the units through the engine and lists them.
#include "text/Messages.h"
#include "ui/OperationGuard.h"
#include "ui/UpdateUtilityDlg.h"

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
    m_listedUnits.clear();
    m_progressText.Empty();
    // A port left open by an earlier update would otherwise stay held by the tool.
    if (m_portOpen) {
        CloseMasterPort();
        m_portOpen = false;
    }
    m_finder.Examine(m_deviceCount, [this](const Unit& unit) { ListUnit(unit); });
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
    if (!unit.portOpened) {
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
}

void CUpdateUtilityDlg::OnRefreshList() {
    m_supportLog.Write("list refresh: Refresh List pressed");
    RefreshEquipmentList();
}
