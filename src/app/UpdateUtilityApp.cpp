#include "app/UpdateUtilityApp.h"

#include "ui/UpdateUtilityDlg.h"

BEGIN_MESSAGE_MAP(CUpdateUtilityApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

BOOL CUpdateUtilityApp::InitInstance() {
    AfxEnableControlContainer();
    CUpdateUtilityDlg dialog;
    m_pMainWnd = &dialog;
    SetRegistryKey(kRegistryKey);
    dialog.m_sourcePath = GetProfileString(kSettingsSection, kLastFileEntry, "");
    dialog.DoModal();
    WriteProfileString(kSettingsSection, kLastFileEntry, dialog.m_sourcePath);
    m_pMainWnd = nullptr;
    // FALSE: the program ends here instead of entering a message loop of its own.
    return FALSE;
}
