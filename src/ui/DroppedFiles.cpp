// Files dropped on the window, and the title-bar menu's "Open log folder".
#include "res/resource.h"
#include "text/Messages.h"
#include "ui/UpdateUtilityDlg.h"

#include <vector>

namespace {
// The path of one dropped file, in the program's code page.
std::string DroppedPath(HDROP drop, UINT index) {
    const UINT length = ::DragQueryFileA(drop, index, nullptr, 0);
    std::vector<char> path(length + 1, '\0');
    ::DragQueryFileA(drop, index, path.data(), length + 1);
    return path.data();
}
} // namespace

void CUpdateUtilityDlg::OnDropFiles(HDROP drop) {
    const UINT count = ::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    const std::string path = count == 1 ? DroppedPath(drop, 0) : std::string();
    ::DragFinish(drop);

    const char* refusal = nullptr;
    if (m_transferActive || m_operationRunning)
        refusal = kDropBusyMessage;
    else if (count != 1)
        refusal = kDropSeveralMessage;
    else if (const DWORD attributes = ::GetFileAttributesA(path.c_str());
             attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        refusal = kDropFolderMessage;
    // The box's own limit: a longer path cannot be typed, and cut short it would name another
    // file.
    else if (CString(path.c_str()).GetCharacterCount() > kMaxPathChars)
        refusal = kDropTooLongMessage;

    if (refusal) {
        ::MessageBeep(MB_ICONWARNING);
        m_status.SetWindowText(refusal);
        m_supportLog.Write("drop refused: \"" + std::string(refusal) + "\"");
        return;
    }
    // As if typed: the box holds the path, which data exchange takes at the next press.
    ::SetDlgItemTextA(m_hWnd, IDC_SOURCE_PATH, path.c_str());
    m_supportLog.Write("file dropped: " + path);
}

void CUpdateUtilityDlg::OnOpenLogFolder() {
    const std::string& folder = m_supportLog.Folder();
    // The folder is made when missing, so that Explorer has something to show.
    if (folder.empty() || !m_supportLog.CreateFolder() || !m_openFolder(m_hWnd, folder)) {
        m_status.SetWindowText(kLogFolderFailedMessage);
        return;
    }
    m_supportLog.Write("log folder opened: " + folder);
}
