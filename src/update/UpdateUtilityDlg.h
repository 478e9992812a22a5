#pragma once
// The update dialog: the tool's one window and the owner of all state of an update. Its
// operations are defined in the folder of their subsystem.

#include "framework/Afx.h"
#include "device/DeviceCommands.h"
#include "ui/EditWarning.h"

// The equipment table: one slot per COM port number 0..16.
constexpr int kEquipmentSlots = 17;

class CUpdateUtilityDlg : public CDialog {
  public:
    explicit CUpdateUtilityDlg(CWnd* parent = nullptr);
    ~CUpdateUtilityDlg() override;

    HANDLE m_hComPort;
    HANDLE m_hSourceFile;
    DCB m_savedDcb; // DCBlength 0: nothing saved
    CStatic m_status;
    CProgressCtrl m_progress;
    CComboBox m_equipmentList;
    BYTE m_selectedPort;
    CString m_progressText;
    CString m_sourcePath;
    int m_hardwareFlowControl;
    DWORD m_chunkSize;
    CString m_welcomeText;
    CString m_instructionsText;
    CEditWarning m_warning;
    CString m_portFirmwareText[kEquipmentSlots];
    signed char m_portFirmwareVersion[kEquipmentSlots];
    signed char m_portDeviceId[kEquipmentSlots];
    HICON m_hIcon;
    HANDLE m_hDevice;
    DWORD m_deviceCount;
    DWORD m_baudRate;
    bool m_portOpen;
    bool m_transferActive;
    bool m_cancelRequested;

    // Serial port (device/SerialPort.cpp)
    BOOL OpenMasterPort(signed char port);
    void CloseMasterPort();
    BOOL WriteWithTimeout(HANDLE port, const void* data, DWORD count, DWORD* written,
                          DWORD limitMs);
    BOOL ReadWithTimeout(HANDLE port, void* buffer, DWORD count, DWORD limitMs);

    // Device commands (device/DeviceCommands.cpp)
    BOOL SendCommand(HANDLE port, CommandKind kind, BYTE* reply, DWORD replyLength);

    // Firmware file (firmware/SourceFile.cpp)
    BOOL OpenSourceFile();
    BOOL CheckSourceHeader();
    void CloseSourceFile();

    // Discovery (discovery/)
    DWORD CountDevices();
    void EnumerateEquipment();
    void RefreshEquipmentList();
    void OnRefreshList();
    int LookUpPortName(WORD vid, WORD pid, char* serial);
    int LookUpPortNameLegacy(WORD vid, WORD pid, char* serial);

    // Update flow (update/UpdateFlow.cpp)
    void OnUpdate();
    BOOL ProgramDevice();
    BOOL TransferFirmware();

    // Window behaviour (ui/)
    BOOL OnInitDialog() override;
    void OnBrowse();
    void OnClose();
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void UpdateControls();
    void PumpMessages();
    void ReportError(CString message);

    DECLARE_MESSAGE_MAP()

  private:
    // A list refresh or an update is running; presses that would start another are ignored.
    bool m_operationRunning = false;
};
