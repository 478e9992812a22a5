#pragma once
// A scripted user of the tool: starts OrvaneUpdateUtility.exe, finds its windows from another
// process and works them as a person would, through window messages only. The demo and the
// tests of the real program use it.

#include <windows.h>

#include <string>
#include <vector>

namespace scripted {

// The caption of the tool's main window.
inline constexpr char kToolCaption[] = "Orvane Update Utility";

// Polls every few milliseconds until done() or the time is up; true when done.
template <typename Done> bool WaitUntil(DWORD timeoutMs, Done done) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (!done()) {
        if (::GetTickCount64() >= end)
            return false;
        ::Sleep(10);
    }
    return true;
}

// The tool running as a child process. A tool still running when the object goes is ended.
class ToolProcess {
  public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // The child inherits this process's environment (ORVANE_SIM_BRIDGES among it). A start that
    // fails is tried twice more: under load, Wine now and then fails to map a new process.
    bool Start(const std::string& exe);
    // The system's reason for the last failed start.
    DWORD StartError() const { return m_startError; }
    DWORD Id() const { return m_info.dwProcessId; }
    bool Running() const;
    // True when the process has ended within the time.
    bool WaitExit(DWORD timeoutMs) const;
    DWORD ExitCode() const;
    void Kill();

  private:
    PROCESS_INFORMATION m_info{};
    DWORD m_startError = ERROR_SUCCESS;
};

// The tool's main dialog, seen from outside.
class ToolWindow {
  public:
    // Waits until the process shows its main window; false when it did not within the time.
    bool Attach(DWORD processId, DWORD timeoutMs);
    HWND Handle() const { return m_window; }
    bool Exists() const { return ::IsWindow(m_window) != FALSE; }

    HWND Control(int id) const { return ::GetDlgItem(m_window, id); }
    std::string Text(int id) const;
    void SetText(int id, const std::string& text) const;
    // Types the text (UTF-8) at the end of the control's text as the keyboard does: one
    // character message per UTF-16 unit.
    void Type(int id, const std::string& text) const;
    bool Enabled(int id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
    bool Shown(int id) const { return ::IsWindowVisible(Control(id)) != FALSE; }
    int Progress() const;

    // The equipment list (1007).
    std::vector<std::string> Entries() const;
    int Selection() const;
    // Picks an entry as a click in the dropped-down list would: selection, then CBN_SELCHANGE.
    void Select(int index) const;

    // Posted, not sent: the tool runs a whole update or a file dialog inside the click.
    void Press(int id) const;
    // Sent; returns once the tool has handled every message sent before (it is idle then).
    bool Sync(DWORD timeoutMs = 5000) const;

  private:
    HWND m_window = nullptr;
};

// A message box of the process: its window, caption and text.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::string caption;
    std::string text;
};

// The message box that the process shows now, if any.
MessageBoxSeen FindMessageBox(DWORD processId);
MessageBoxSeen WaitMessageBox(DWORD processId, DWORD timeoutMs);
// Presses one of a dialog's buttons (IDOK, IDYES...).
void Answer(HWND dialog, int buttonId);

// The open-file dialog of the process, or nullptr when none came within the time.
HWND WaitFileDialog(DWORD processId, DWORD timeoutMs);
// The descriptions in its file-type list.
std::vector<std::string> FileTypes(HWND fileDialog);
// Types a full path into its file name box and presses Open.
bool ChooseFile(HWND fileDialog, const std::string& path);

} // namespace scripted
