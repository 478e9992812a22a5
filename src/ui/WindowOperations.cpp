// Data exchange, the idle and busy presentation, message pumping and error reporting.
#include "text/Messages.h"
#include "ui/UpdateUtilityDlg.h"

#include "res/resource.h"

namespace {

// Explorer's "Copy as path" wraps a path in double quotes. No Windows file name can hold one, so
// a path so wrapped is taken without them and no valid path changes; quotes anywhere else are
// left as typed, for the open to refuse.
bool TakeOffWrappingQuotes(CString& path) {
    const std::string& text = path.Str();
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return false;
    path = CString(text.substr(1, text.size() - 2));
    return true;
}

// The clipboard's text in the program's 8-bit code page (UTF-8 by its manifest). It is read as
// UTF-16: the system gives the 8-bit form in the clipboard locale's code page instead, which
// turns "Zoë" into bytes that are no UTF-8 and drops every character that page lacks.
CString ClipboardText(HWND owner) {
    std::string text;
    if (!::IsClipboardFormatAvailable(CF_UNICODETEXT) || !::OpenClipboard(owner))
        return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT))
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
            // No further than the memory holds, should another program leave off the end mark.
            const int length =
                static_cast<int>(wcsnlen(chars, ::GlobalSize(data) / sizeof(wchar_t)));
            text.resize(static_cast<size_t>(
                ::WideCharToMultiByte(CP_ACP, 0, chars, length, nullptr, 0, nullptr, nullptr)));
            ::WideCharToMultiByte(CP_ACP, 0, chars, length, text.data(),
                                  static_cast<int>(text.size()), nullptr, nullptr);
            ::GlobalUnlock(data);
        }
    ::CloseClipboard();
    return text;
}

// The path box pastes a path wrapped in quotes without them, so that a path of the box's full
// length fits in with its quotes too.
LRESULT CALLBACK PasteWithoutWrappingQuotes(HWND box, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR, DWORD_PTR) {
    if (message == WM_PASTE) {
        CString text = ClipboardText(box);
        if (TakeOffWrappingQuotes(text)) {
            ::SendMessageA(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.Str().c_str()));
            return 0;
        }
    }
    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(box, PasteWithoutWrappingQuotes, 0);
    return ::DefSubclassProc(box, message, wParam, lParam);
}

// The path box's text: from the window without wrapping quotes (the box then shows it so too),
// and at most maxChars characters without them.
void DDX_PathText(CDataExchange* pDX, int id, CString& path, int maxChars) {
    DDX_Text(pDX, id, path);
    HWND box = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id);
    ::SetWindowSubclass(box, PasteWithoutWrappingQuotes, 0, 0);
    if (pDX->m_bSaveAndValidate && TakeOffWrappingQuotes(path))
        ::SetWindowTextA(box, path);
    DDV_MaxChars(pDX, path, maxChars);
}

} // namespace

void CUpdateUtilityDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STATUS, m_status);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_EQUIPMENT_LIST, m_equipmentList);
    DDX_Control(pDX, IDC_WARNING, m_warning);
    DDX_PathText(pDX, IDC_SOURCE_PATH, m_sourcePath, kMaxPathChars);
    DDX_Text(pDX, IDC_WELCOME, m_welcomeText);
    DDX_Text(pDX, IDC_INSTRUCTIONS, m_instructionsText);
    m_selectedPort = SelectedPortFromList();
    UpdateControls();
}

BYTE CUpdateUtilityDlg::SelectedPortFromList() const {
    // The low byte of the selected entry's port number; no selection gives CB_ERR, so 0xFF.
    return static_cast<BYTE>(m_equipmentList.GetItemData(m_equipmentList.GetCurSel()));
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

void CUpdateUtilityDlg::ReportError(CString message, DWORD systemError) {
    m_status.SetWindowText(message);
    // A box that appears by itself when a cable is plugged in would be hostile.
    if (m_automaticRefresh) {
        m_supportLog.Write("status line: \"" + message.Str() + "\"" +
                           (systemError ? " (" + SystemReason(systemError) + ")" : ""));
        return;
    }
    ShowMessage(message, kErrorCaption, MB_OK | MB_ICONEXCLAMATION, systemError);
}

int CUpdateUtilityDlg::ShowMessage(const char* text, const char* caption, UINT type,
                                   DWORD systemError) {
    m_supportLog.Write("message shown: \"" + std::string(text) + "\"" +
                       (systemError ? " (" + SystemReason(systemError) + ")" : ""));
    const int answer = MessageBox(text, caption, type);
    if ((type & MB_TYPEMASK) == MB_YESNO)
        m_supportLog.Write(answer == IDYES ? "answer: Yes" : "answer: No");
    return answer;
}
