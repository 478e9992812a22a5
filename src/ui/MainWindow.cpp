// The main window's behaviour: message map, initialisation, browsing and closing.
#include "text/Messages.h"
#include "ui/UpdateUtilityDlg.h"

#include "res/resource.h"

BEGIN_MESSAGE_MAP(CUpdateUtilityDlg, CDialog)
ON_BN_CLICKED(IDC_UPDATE, &CUpdateUtilityDlg::OnUpdate)
ON_BN_CLICKED(IDC_REFRESH_LIST, &CUpdateUtilityDlg::OnRefreshList)
ON_CBN_SELCHANGE(IDC_EQUIPMENT_LIST, &CUpdateUtilityDlg::OnEquipmentSelected)
ON_BN_CLICKED(IDC_BROWSE, &CUpdateUtilityDlg::OnBrowse)
ON_WM_CLOSE()
END_MESSAGE_MAP()

BOOL CUpdateUtilityDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (m_layout.Record(m_hWnd, IDD_UPDATEUTILITY_DIALOG)) {
        RECT place{};
        ::GetWindowRect(m_hWnd, &place);
        m_layout.Apply(WindowDpi(m_hWnd), place);
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    m_hComPort = INVALID_HANDLE_VALUE;
    m_hSourceFile = INVALID_HANDLE_VALUE;
    LogStart();
    if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
        ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(menu, MF_STRING, IDM_OPEN_LOG_FOLDER, kOpenLogFolderItem);
    }
    ::DragAcceptFiles(m_hWnd, TRUE);
    RegisterForDeviceNotices();
    RefreshEquipmentList();
    UpdateControls();
    // Empty, unless the refresh has said where it found the bridges.
    m_status.SetWindowText(m_progressText);
    CString warning;
    warning.LoadString(IDS_WARNING);
    m_warning.SetWindowText(warning);
    return TRUE;
}

void CUpdateUtilityDlg::OnBrowse() {
    UpdateData(TRUE);
    CFileDialog dialog(TRUE, nullptr, m_sourcePath,
                       OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                           OFN_NONETWORKBUTTON,
                       "Firmware Binary Files (*.ace)|*.ace|All Files (*.*)|*.*||");
    if (dialog.DoModal() == IDOK) {
        m_sourcePath = dialog.GetPathName();
        UpdateData(FALSE);
    }
}

// The messages that carry data a message map entry cannot pass on.
bool CUpdateUtilityDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        *result = TRUE;
        return true;
    case WM_TIMER:
        if (wParam != kDeviceSettleTimer)
            break;
        OnDeviceSettled();
        *result = 0;
        return true;
    case WM_SHOWWINDOW:
        if (wParam)
            m_windowShown = true;
        break;
    case WM_DPICHANGED:
        // The window moved to a monitor of another scale: the new DPI and the system's choice
        // of the window's place there.
        m_layout.Apply(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        *result = 0;
        return true;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        *result = 0;
        return true;
    case WM_SYSCOMMAND:
        // The system keeps the low four bits of the command for itself.
        if ((wParam & 0xFFF0) != IDM_OPEN_LOG_FOLDER)
            break;
        OnOpenLogFolder();
        *result = 0;
        return true;
    case WM_DESTROY:
        UnregisterDeviceNotices();
        ::KillTimer(m_hWnd, kDeviceSettleTimer);
        break;
    default:
        break;
    }
    return CDialog::OnWndMsg(message, wParam, lParam, result);
}

// The dialog's default handling: Exit is clicked when enabled, otherwise a beep.
void CUpdateUtilityDlg::OnClose() {
    Default();
}

void CUpdateUtilityDlg::OnOK() {
    CDialog::OnOK();
}

void CUpdateUtilityDlg::OnCancel() {
    CDialog::OnCancel();
}
