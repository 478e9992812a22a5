#include "ScriptedUser.h"

#include <commctrl.h>

#include <cstring>

namespace scripted {
namespace {

constexpr UINT kSendLimitMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kEquipmentListId = 1007;
// The open-file dialog's file-type list and file name box (a combo box in the Explorer-style
// dialog, an edit box in older ones).
constexpr int kFileTypeListId = 0x470;
constexpr int kFileNameComboId = 0x47C;
constexpr int kFileNameEditId = 0x480;

// A message to a window of another process that gives up on a hung receiver.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* answered = nullptr) {
    DWORD_PTR result = 0;
    const LRESULT ok = ::SendMessageTimeoutA(window, message, wParam, lParam,
                                             SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendLimitMs, &result);
    if (answered)
        *answered = ok != 0;
    return ok ? static_cast<LRESULT>(result) : 0;
}

// The text of a control of another process (GetWindowText would not ask the control).
std::string ControlText(HWND control) {
    if (!control)
        return {};
    std::vector<char> buffer(static_cast<size_t>(Send(control, WM_GETTEXTLENGTH, 0, 0)) + 64);
    Send(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    buffer.back() = '\0';
    return buffer.data();
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string CaptionOf(HWND window) {
    char caption[256] = {};
    ::GetWindowTextA(window, caption, sizeof(caption));
    return caption;
}

// The visible top-level dialog windows (class #32770) of the process.
std::vector<HWND> DialogWindows(DWORD processId) {
    struct Search {
        DWORD processId;
        std::vector<HWND> found;
    } search{processId, {}};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* search = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == search->processId && ::IsWindowVisible(window) &&
                ClassOf(window) == "#32770")
                search->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsMessageBox(HWND dialog) {
    return ::GetDlgItem(dialog, kMessageBoxTextId) != nullptr;
}

std::vector<std::string> ComboEntries(HWND combo) {
    std::vector<std::string> entries;
    const int count = static_cast<int>(Send(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT reported = Send(combo, CB_GETLBTEXTLEN, i, 0);
        const int length = reported > 0 ? static_cast<int>(reported) : 0;
        // Wine 8 hands this text of another process's combo box back in UTF-16 even to the
        // ANSI call: room for that, and such a text is narrowed here.
        std::vector<char> buffer(2 * static_cast<size_t>(length) + 4, '\0');
        Send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer.data()));
        if (static_cast<int>(strlen(buffer.data())) < length) {
            std::vector<char> narrow(2 * static_cast<size_t>(length) + 4, '\0');
            ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(buffer.data()), length,
                                  narrow.data(), static_cast<int>(narrow.size()) - 1, nullptr,
                                  nullptr);
            buffer.swap(narrow);
        }
        entries.push_back(buffer.data());
    }
    return entries;
}

} // namespace

ToolProcess::~ToolProcess() {
    Kill();
}

bool ToolProcess::Start(const std::string& exe) {
    if (m_info.hProcess)
        return false;
    std::string folder = exe;
    const size_t slash = folder.find_last_of("\\/");
    folder.erase(slash == std::string::npos ? 0 : slash);
    constexpr int kAttempts = 3;
    constexpr DWORD kRetryPauseMs = 500;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        std::string command = "\"" + exe + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        if (::CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &startup, &m_info)) {
            ::CloseHandle(m_info.hThread);
            m_info.hThread = nullptr;
            m_startError = ERROR_SUCCESS;
            return true;
        }
        m_startError = ::GetLastError();
        m_info = {};
        if (m_startError == ERROR_FILE_NOT_FOUND || m_startError == ERROR_PATH_NOT_FOUND)
            break;
        ::Sleep(kRetryPauseMs);
    }
    return false;
}

bool ToolProcess::Running() const {
    return m_info.hProcess && ::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
}

bool ToolProcess::WaitExit(DWORD timeoutMs) const {
    return m_info.hProcess && ::WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD ToolProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_info.hProcess)
        ::GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

void ToolProcess::Kill() {
    if (!m_info.hProcess)
        return;
    if (Running()) {
        ::TerminateProcess(m_info.hProcess, 1);
        ::WaitForSingleObject(m_info.hProcess, 5000);
    }
    ::CloseHandle(m_info.hProcess);
    m_info = {};
}

bool ToolWindow::Attach(DWORD processId, DWORD timeoutMs) {
    m_window = nullptr;
    return WaitUntil(timeoutMs, [&] {
        for (HWND dialog : DialogWindows(processId))
            if (CaptionOf(dialog) == kToolCaption && !IsMessageBox(dialog))
                m_window = dialog;
        return m_window != nullptr;
    });
}

std::string ToolWindow::Text(int id) const {
    return ControlText(Control(id));
}

void ToolWindow::SetText(int id, const std::string& text) const {
    Send(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ToolWindow::Type(int id, const std::string& text) const {
    HWND control = Control(id);
    const int units =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring typed(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), typed.data(),
                          units);
    // The caret to the end: positions beyond the text are taken as its end.
    constexpr int kBeyondAnyText = 0x7FFFFFFF;
    Send(control, EM_SETSEL, kBeyondAnyText, kBeyondAnyText);
    for (const wchar_t unit : typed) {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(control, WM_CHAR, unit, 1, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                              kSendLimitMs, &result);
    }
}

int ToolWindow::Progress() const {
    return static_cast<int>(Send(Control(1014), PBM_GETPOS, 0, 0));
}

std::vector<std::string> ToolWindow::Entries() const {
    return ComboEntries(Control(kEquipmentListId));
}

int ToolWindow::Selection() const {
    bool answered = false;
    const LRESULT selected = Send(Control(kEquipmentListId), CB_GETCURSEL, 0, 0, &answered);
    return answered ? static_cast<int>(selected) : CB_ERR;
}

void ToolWindow::Select(int index) const {
    HWND list = Control(kEquipmentListId);
    Send(list, CB_SETCURSEL, index, 0);
    Send(m_window, WM_COMMAND, MAKEWPARAM(kEquipmentListId, CBN_SELCHANGE),
         reinterpret_cast<LPARAM>(list));
}

void ToolWindow::Press(int id) const {
    ::PostMessageA(m_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Control(id)));
}

bool ToolWindow::Sync(DWORD timeoutMs) const {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &result) !=
           0;
}

MessageBoxSeen FindMessageBox(DWORD processId) {
    MessageBoxSeen seen;
    for (HWND dialog : DialogWindows(processId)) {
        if (!IsMessageBox(dialog))
            continue;
        seen.window = dialog;
        seen.caption = CaptionOf(dialog);
        seen.text = ControlText(::GetDlgItem(dialog, kMessageBoxTextId));
        break;
    }
    return seen;
}

MessageBoxSeen WaitMessageBox(DWORD processId, DWORD timeoutMs) {
    MessageBoxSeen seen;
    WaitUntil(timeoutMs, [&] {
        seen = FindMessageBox(processId);
        return seen.window != nullptr;
    });
    return seen;
}

void Answer(HWND dialog, int buttonId) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, buttonId)));
}

HWND WaitFileDialog(DWORD processId, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(timeoutMs, [&] {
        for (HWND dialog : DialogWindows(processId))
            if (!IsMessageBox(dialog) && CaptionOf(dialog) != kToolCaption &&
                (::GetDlgItem(dialog, kFileNameComboId) || ::GetDlgItem(dialog, kFileNameEditId)))
                found = dialog;
        return found != nullptr;
    });
    return found;
}

std::vector<std::string> FileTypes(HWND fileDialog) {
    return ComboEntries(::GetDlgItem(fileDialog, kFileTypeListId));
}

bool ChooseFile(HWND fileDialog, const std::string& path) {
    HWND name = ::GetDlgItem(fileDialog, kFileNameComboId);
    if (!name)
        name = ::GetDlgItem(fileDialog, kFileNameEditId);
    if (!name)
        return false;
    Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    if (ControlText(name) != path)
        return false;
    Answer(fileDialog, IDOK);
    return true;
}

} // namespace scripted
