#pragma once
// CWinThread and CWinApp: the application object, its message pump, wait cursor and
// per-user profile settings.

#include "Wnd.h"

class CWinThread : public CCmdTarget {
  public:
    CWnd* m_pMainWnd = nullptr;

    // Removes one message from the thread's queue and processes it: the main window's dialog
    // keyboard handling first, otherwise translation and dispatch. False on WM_QUIT, which is
    // posted again so that the loop that owns it still sees it.
    virtual BOOL PumpMessage();
};

class CWinApp : public CWinThread {
  public:
    // The one application object registers itself; appName nullptr means the executable's
    // file name without its extension.
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }

    const char* m_pszAppName = nullptr;
    const char* m_pszRegistryKey = nullptr;

    // From now on profile settings live in HKCU\Software\<key>\<application name>\<section>.
    // Before a key is set, nothing is kept: reads give the default and writes fail.
    void SetRegistryKey(const char* key);
    CString GetProfileString(const char* section, const char* entry,
                             const char* defaultValue = nullptr);
    BOOL WriteProfileString(const char* section, const char* entry, const char* value);

    // nDelta 1 shows the hourglass, -1 takes one back; the hourglass stays while the count is
    // above 0, also over windows whose cursor the framework sets (WM_SETCURSOR).
    void DoWaitCursor(int nDelta);
    bool IsWaitCursorShown() const { return m_waitCursorCount > 0; }

    void OnHelp() {}

    DECLARE_MESSAGE_MAP()

  private:
    std::string m_appName;
    std::string m_registryKey;
    int m_waitCursorCount = 0;
    HCURSOR m_cursorBeforeWait = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// Support for embedded controls; no template of this program holds one.
inline void AfxEnableControlContainer() {}

// Standard command identifiers.
constexpr UINT ID_HELP = 0xE146;

// Framework message box captioned with the application name, owned by the main window.
int AfxMessageBox(const char* text, UINT type = MB_OK);

// Shows the hourglass for the object's lifetime.
class CWaitCursor {
  public:
    CWaitCursor() { AfxGetApp()->DoWaitCursor(1); }
    ~CWaitCursor() { AfxGetApp()->DoWaitCursor(-1); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
