// Data exchange, the idle and busy presentation, message pumping and error reporting.
#include "text/Messages.h"
#include "ui/UpdateUtilityDlg.h"

#include "res/resource.h"

namespace {
constexpr int kMaxPathChars = 260;
}

void CUpdateUtilityDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STATUS, m_status);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_EQUIPMENT_LIST, m_equipmentList);
    DDX_Control(pDX, IDC_WARNING, m_warning);
    DDX_Text(pDX, IDC_SOURCE_PATH, m_sourcePath);
    DDV_MaxChars(pDX, m_sourcePath, kMaxPathChars);
    DDX_Text(pDX, IDC_WELCOME, m_welcomeText);
    DDX_Text(pDX, IDC_INSTRUCTIONS, m_instructionsText);
    // The low byte of the selected entry's port number; no selection gives CB_ERR, so 0xFF.
    const int selected = m_equipmentList.GetCurSel();
    m_selectedPort = static_cast<BYTE>(m_equipmentList.GetItemData(selected));
    UpdateControls();
}

void CUpdateUtilityDlg::UpdateControls() {
    const bool busy = m_transferActive;
    GetDlgItem(IDC_UPDATE)->EnableWindow(m_deviceCount != 0);
    GetDlgItem(IDC_UPDATE)->SetWindowText(busy ? "Cancel" : "Update");
    GetDlgItem(IDC_REFRESH_LIST)->EnableWindow(!busy);
    GetDlgItem(IDC_EQUIPMENT_LIST)->EnableWindow(!busy);
    GetDlgItem(IDC_SOURCE_PATH)->EnableWindow(!busy);
    GetDlgItem(IDC_BROWSE)->EnableWindow(!busy);
    GetDlgItem(IDC_PROGRESS)->ShowWindow(busy ? SW_SHOWNORMAL : SW_HIDE);
    GetDlgItem(IDCANCEL)->EnableWindow(!busy);
    GetDlgItem(IDC_WARNING)->ShowWindow(busy ? SW_SHOWNORMAL : SW_HIDE);
    PumpMessages();
}

void CUpdateUtilityDlg::PumpMessages() {
    // Stops at WM_QUIT, which the pump leaves in the queue for the modal loop to see.
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE))
        if (!AfxGetApp()->PumpMessage())
            break;
}

void CUpdateUtilityDlg::ReportError(CString message) {
    m_status.SetWindowText(message);
    MessageBox(message, kErrorCaption, MB_OK | MB_ICONEXCLAMATION);
}
