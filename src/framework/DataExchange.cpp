#include "DataExchange.h"

#include "WinApp.h"

HWND CDataExchange::PrepareCtrl(int id) {
    m_lastControl = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    m_lastControlIsEdit = false;
    return m_lastControl;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
    HWND control = PrepareCtrl(id);
    m_lastControlIsEdit = true;
    return control;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && m_lastControl) {
        ::SetFocus(m_lastControl);
        if (m_lastControlIsEdit)
            ::SendMessageA(m_lastControl, EM_SETSEL, 0, -1);
    }
    throw CDataExchangeFailure{};
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (!control.m_hWnd)
        control.SubclassDlgItem(static_cast<UINT>(id), pDX->m_pDlgWnd);
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    HWND control = pDX->PrepareEditCtrl(id);
    CWnd* wnd = CWnd::FromHandle(control);
    if (!wnd)
        return;
    if (pDX->m_bSaveAndValidate)
        wnd->GetWindowText(value);
    else
        wnd->SetWindowText(value);
}

void DDV_MaxChars(CDataExchange* pDX, const CString& value, int maxChars) {
    // Characters, as the edit control's limit below counts them, not bytes: a path that could be
    // typed is never refused.
    if (pDX->m_bSaveAndValidate && value.GetCharacterCount() > maxChars) {
        CString message;
        message.Format("Please enter no more than %d characters.", maxChars);
        AfxMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail();
    }
    if (pDX->m_lastControl && pDX->m_lastControlIsEdit)
        ::SendMessageA(pDX->m_lastControl, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
}
