#include "ui/UpdateUtilityDlg.h"

#include "res/resource.h"
#include "update/FirmwareTransfer.h"

namespace {
// The folder in Explorer: ShellExecute's "open" of a folder shows it there.
bool OpenInExplorer(HWND owner, const std::string& folder) {
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteA(owner, "open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}
} // namespace

CUpdateUtilityDlg::CUpdateUtilityDlg(CWnd* parent)
    : CDialog(IDD_UPDATEUTILITY_DIALOG, parent), m_hComPort(INVALID_HANDLE_VALUE),
      m_hSourceFile(INVALID_HANDLE_VALUE), m_savedDcb{}, m_selectedPort(1),
      m_hardwareFlowControl(1), m_chunkSize(kChunkSize), m_hIcon(nullptr), m_deviceCount(0),
      m_baudRate(460800), m_writeStallLimitMs(kWriteStallLimitMs), m_portOpen(false),
      m_transferActive(false), m_cancelRequested(false), m_deviceSettleMs(kDeviceSettleMs),
      m_openFolder(OpenInExplorer) {
    m_hIcon = static_cast<HICON>(::LoadImageA(
        AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    for (int port = 0; port < kEquipmentSlots; ++port) {
        m_portFirmwareText[port].Empty();
        m_portDeviceId[port] = static_cast<signed char>(0xFF);
        m_portFirmwareVersion[port] = static_cast<signed char>(0xFF);
    }
    m_welcomeText.LoadString(IDS_WELCOME);
    m_instructionsText.LoadString(IDS_INSTRUCTIONS);
}

CUpdateUtilityDlg::~CUpdateUtilityDlg() {
    // A window destroyed by the base class's destructor no longer reaches this class.
    UnregisterDeviceNotices();
    if (m_portOpen)
        CloseMasterPort();
}

void CUpdateUtilityDlg::SyncHandles() {
    m_hComPort = m_masterPort.System().port;
    m_savedDcb = m_masterPort.System().saved;
    m_hSourceFile = m_sourceFile.System().file;
}
