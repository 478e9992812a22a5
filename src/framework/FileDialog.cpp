#include "FileDialog.h"

#include "WinApp.h"

#include <commdlg.h>

#include <cstring>

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defaultExtension, const char* fileName,
                         DWORD flags, const char* filter, CWnd* parent)
    : m_open(openFileDialog), m_parent(parent) {
    if (filter) {
        m_filter = filter;
        for (char& c : m_filter)
            if (c == '|')
                c = '\0';
    }
    if (defaultExtension)
        m_defaultExtension = defaultExtension;
    // A name too long for the buffer is not offered at all: cut, it would end in part of a
    // character and name no file.
    if (fileName && strlen(fileName) < sizeof(m_file))
        lstrcpynA(m_file, fileName, sizeof(m_file));

    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hInstance = AfxGetInstanceHandle();
    m_ofn.lpstrFilter = filter ? m_filter.c_str() : nullptr;
    m_ofn.nFilterIndex = 1;
    m_ofn.lpstrFile = m_file;
    m_ofn.nMaxFile = sizeof(m_file);
    m_ofn.lpstrDefExt = defaultExtension ? m_defaultExtension.c_str() : nullptr;
    m_ofn.Flags = flags | OFN_EXPLORER;
}

INT_PTR CFileDialog::DoModal() {
    CWnd* owner = m_parent;
    if (!owner && AfxGetApp())
        owner = AfxGetApp()->m_pMainWnd;
    m_ofn.hwndOwner = owner ? owner->m_hWnd : nullptr;
    const BOOL chosen = m_open ? ::GetOpenFileNameA(&m_ofn) : ::GetSaveFileNameA(&m_ofn);
    return chosen ? IDOK : IDCANCEL;
}
