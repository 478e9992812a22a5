#include "Dialog.h"

#include "WinApp.h"

CDialog::~CDialog() {
    if (m_hWnd && !m_modal)
        ::DestroyWindow(m_hWnd);
}

namespace {
// Registers the common control classes (the progress bar) that templates may use.
void RegisterCommonControls() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
}
} // namespace

INT_PTR CDialog::DoModal() {
    RegisterCommonControls();
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    m_modal = true;
    const INT_PTR result = ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId),
                                             parent, DialogProc, reinterpret_cast<LPARAM>(this));
    m_modal = false;
    Detach();
    return result;
}

BOOL CDialog::Create(CWnd* parent) {
    RegisterCommonControls();
    if (parent)
        m_pParentWnd = parent;
    HWND parentHwnd = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    return ::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), parentHwnd,
                                DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::CenterOnScreen() {
    RECT window;
    RECT area;
    if (!::GetWindowRect(m_hWnd, &window) || !::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0))
        return;
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int left = area.left + (area.right - area.left - width) / 2;
    const int top = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, left > area.left ? left : area.left,
                   top > area.top ? top : area.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::EndDialog(int result) {
    if (m_modal)
        ::EndDialog(m_hWnd, result);
    else
        ::ShowWindow(m_hWnd, SW_HIDE);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const CDataExchangeFailure&) {
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_BN_CLICKED(IDOK, &CDialog::OnOK)
ON_BN_CLICKED(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

// A dialog's default answer to a close request, as the system's dialog manager gives it: the
// Exit (IDCANCEL) control is clicked when it is enabled, otherwise a warning beep.
bool CDialog::DefaultClose() {
    HWND cancel = ::GetDlgItem(m_hWnd, IDCANCEL);
    if (cancel && !::IsWindowEnabled(cancel)) {
        ::MessageBeep(MB_OK);
        return true;
    }
    ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(cancel));
    return true;
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    switch (message) {
    case WM_SETCURSOR:
        if (AfxGetApp() && AfxGetApp()->IsWaitCursorShown()) {
            ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
            *result = TRUE;
            return true;
        }
        return false;
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
        CWnd* control = CWnd::FromHandlePermanent(item->hwndItem);
        if (control && control->OnChildNotify(message, wParam, lParam)) {
            *result = TRUE;
            return true;
        }
        return false;
    }
    case WM_COMMAND: {
        // A command from a control that has been disabled meanwhile (a click still queued, the
        // Escape key for a disabled Exit button) is not carried out.
        HWND control =
            lParam ? reinterpret_cast<HWND>(lParam) : ::GetDlgItem(m_hWnd, LOWORD(wParam));
        if (control && !::IsWindowEnabled(control))
            return true;
        if (DispatchToMessageMap(message, wParam))
            return true;
        return AfxGetApp() && AfxGetApp()->DispatchToMessageMap(message, wParam);
    }
    default:
        break;
    }
    m_defaultRequested = false;
    if (!DispatchToMessageMap(message, wParam))
        return message == WM_CLOSE && DefaultClose();
    if (m_defaultRequested) {
        m_defaultRequested = false;
        return message == WM_CLOSE ? DefaultClose() : false;
    }
    return true;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        dialog->Attach(hWnd);
        if (dialog->m_modal)
            dialog->CenterOnScreen();
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!dialog)
        return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hWnd, DWLP_USER, 0);
        dialog->Detach();
        return FALSE;
    }
    LRESULT result = 0;
    if (!dialog->OnWndMsg(message, wParam, lParam, &result))
        return FALSE;
    ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
