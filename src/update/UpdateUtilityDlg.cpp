#include "update/UpdateUtilityDlg.h"

#include "res/resource.h"

CUpdateUtilityDlg::CUpdateUtilityDlg(CWnd* parent)
    : CDialog(IDD_UPDATEUTILITY_DIALOG, parent), m_hComPort(INVALID_HANDLE_VALUE),
      m_hSourceFile(INVALID_HANDLE_VALUE), m_savedDcb{}, m_selectedPort(1),
      m_hardwareFlowControl(1), m_chunkSize(2048), m_hIcon(nullptr), m_hDevice(nullptr),
      m_deviceCount(0), m_baudRate(460800), m_portOpen(false), m_transferActive(false),
      m_cancelRequested(false) {
    m_hIcon = static_cast<HICON>(::LoadImageA(
        AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    m_savedDcb.DCBlength = 0;
    for (int port = 0; port < kEquipmentSlots; ++port) {
        m_portFirmwareText[port].Empty();
        m_portDeviceId[port] = static_cast<signed char>(0xFF);
        m_portFirmwareVersion[port] = static_cast<signed char>(0xFF);
    }
    m_welcomeText.LoadString(IDS_WELCOME);
    m_instructionsText.LoadString(IDS_INSTRUCTIONS);
}

CUpdateUtilityDlg::~CUpdateUtilityDlg() {
    if (m_portOpen)
        CloseMasterPort();
}
