#pragma once
// CFileDialog: the system's open-file (or save-file) dialog.

#include "Wnd.h"

#include <commdlg.h>

#include <string>

class CFileDialog {
  public:
    // filter: pairs of description and pattern separated by '|', ending in "||".
    CFileDialog(BOOL openFileDialog, const char* defaultExtension = nullptr,
                const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parent = nullptr);

    // IDOK with a file chosen, IDCANCEL otherwise. The owner is the given parent, else the
    // application's main window.
    INT_PTR DoModal();
    CString GetPathName() const { return CString(m_file); }

    OPENFILENAMEA m_ofn{};

  private:
    BOOL m_open;
    CWnd* m_parent;
    std::string m_filter;
    std::string m_defaultExtension;
    // Room for a path of MAX_PATH UTF-16 units at up to three bytes each in UTF-8.
    char m_file[MAX_PATH * 4] = {};
};
