// The main window's behaviour: message map, initialisation, browsing and closing.
#include "ui/UpdateUtilityDlg.h"

#include "res/resource.h"

BEGIN_MESSAGE_MAP(CUpdateUtilityDlg, CDialog)
ON_BN_CLICKED(IDC_UPDATE, &CUpdateUtilityDlg::OnUpdate)
ON_BN_CLICKED(IDC_REFRESH_LIST, &CUpdateUtilityDlg::OnRefreshList)
ON_BN_CLICKED(IDC_BROWSE, &CUpdateUtilityDlg::OnBrowse)
ON_WM_CLOSE()
END_MESSAGE_MAP()

BOOL CUpdateUtilityDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    m_hComPort = INVALID_HANDLE_VALUE;
    m_hSourceFile = INVALID_HANDLE_VALUE;
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
