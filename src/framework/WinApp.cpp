#include "WinApp.h"

#include <vector>

namespace {
CWinApp* g_app = nullptr;

std::string ExecutableBaseName() {
    // MAX_PATH counts UTF-16 units; in UTF-8 each takes up to three bytes.
    char path[3 * MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string name = path;
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

// Opens (creating when asked) HKCU\Software\<key>\<app>\<section>.
HKEY OpenSectionKey(const std::string& key, const std::string& app, const char* section,
                    bool create) {
    const std::string path = "Software\\" + key + "\\" + app + "\\" + section;
    HKEY handle = nullptr;
    LONG status = create ? ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_WRITE | KEY_READ, nullptr, &handle, nullptr)
                         : ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &handle);
    return status == ERROR_SUCCESS ? handle : nullptr;
}
} // namespace

CWinApp* AfxGetApp() {
    return g_app;
}

HINSTANCE AfxGetInstanceHandle() {
    return ::GetModuleHandleA(nullptr);
}

BOOL CWinThread::PumpMessage() {
    MSG msg;
    if (!::GetMessageA(&msg, nullptr, 0, 0)) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return FALSE;
    }
    HWND dialog = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
    if (dialog && ::IsDialogMessageA(dialog, &msg))
        return TRUE;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
    return TRUE;
}

CWinApp::CWinApp(const char* appName) {
    m_appName = appName ? appName : ExecutableBaseName();
    m_pszAppName = m_appName.c_str();
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = nullptr;
}

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

void CWinApp::SetRegistryKey(const char* key) {
    m_registryKey = key ? key : "";
    m_pszRegistryKey = m_registryKey.c_str();
}

CString CWinApp::GetProfileString(const char* section, const char* entry,
                                  const char* defaultValue) {
    const CString fallback(defaultValue);
    HKEY key =
        m_registryKey.empty() ? nullptr : OpenSectionKey(m_registryKey, m_appName, section, false);
    if (!key)
        return fallback;
    DWORD type = 0;
    DWORD size = 0;
    CString value = fallback;
    LONG status = ::RegQueryValueExA(key, entry, nullptr, &type, nullptr, &size);
    // The size reported without a buffer may be that of the stored UTF-16 text, less than its
    // UTF-8 form needs: a read told that it needs more is repeated with the size it reports.
    // A REG_EXPAND_SZ value, as some tools write paths, is read as its text, unexpanded.
    const auto isText = [&type] { return type == REG_SZ || type == REG_EXPAND_SZ; };
    for (int attempt = 0; attempt < 3 && status == ERROR_SUCCESS && isText(); ++attempt) {
        std::vector<char> buffer(size + 1, '\0');
        DWORD read = size;
        status = ::RegQueryValueExA(key, entry, nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer.data()), &read);
        if (status == ERROR_SUCCESS) {
            value = CString(buffer.data()); // stops at the first NUL, stored or added
            break;
        }
        if (status == ERROR_MORE_DATA) {
            size = read;
            status = ERROR_SUCCESS;
        }
    }
    ::RegCloseKey(key);
    return value;
}

BOOL CWinApp::WriteProfileString(const char* section, const char* entry, const char* value) {
    if (m_registryKey.empty())
        return FALSE;
    HKEY key = OpenSectionKey(m_registryKey, m_appName, section, true);
    if (!key)
        return FALSE;
    LONG status;
    if (value)
        status = ::RegSetValueExA(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                  static_cast<DWORD>(strlen(value) + 1));
    else
        status = ::RegDeleteValueA(key, entry);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void CWinApp::DoWaitCursor(int nDelta) {
    HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
    if (nDelta > 0) {
        if (m_waitCursorCount++ == 0)
            m_cursorBeforeWait = ::SetCursor(wait);
        else
            ::SetCursor(wait);
        return;
    }
    if (m_waitCursorCount == 0)
        return;
    if (--m_waitCursorCount == 0) {
        HCURSOR restore = m_cursorBeforeWait && m_cursorBeforeWait != wait
                              ? m_cursorBeforeWait
                              : ::LoadCursorA(nullptr, IDC_ARROW);
        ::SetCursor(restore);
    }
}

int AfxMessageBox(const char* text, UINT type) {
    CWinApp* app = AfxGetApp();
    HWND owner = app && app->m_pMainWnd ? app->m_pMainWnd->m_hWnd : nullptr;
    return ::MessageBoxA(owner, text, app ? app->m_pszAppName : nullptr, type);
}
