#pragma once
// The update dialog: the tool's window, one face of the engine. It keeps the window's state
// (the equipment table, the selection, the path, the busy flags) and turns what the engine
// reports into the window's texts and boxes (text/Messages.h). The documented operations are
// short adapters over the engine, defined by concern in this folder.

#include "device/SerialLine.h"
#include "device/UnitCommands.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/FirmwareFile.h"
#include "framework/Afx.h"
#include "ui/EditWarning.h"

// The equipment table: one slot per COM port number 0..16.
constexpr int kEquipmentSlots = 17;

class CUpdateUtilityDlg : public CDialog {
  public:
    explicit CUpdateUtilityDlg(CWnd* parent = nullptr);
    ~CUpdateUtilityDlg() override;

    // The open port and the open firmware file, and copies of their handles and of the port's
    // saved settings as the engine holds them (INVALID_HANDLE_VALUE, DCBlength 0: none).
    SerialLine m_masterPort;
    FirmwareFile m_sourceFile;
    HANDLE m_hComPort;
    HANDLE m_hSourceFile;
    DCB m_savedDcb;

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
    DWORD m_deviceCount;
    DWORD m_baudRate;
    // How long a write may wait while the unit takes no data; tests shorten it.
    DWORD m_writeStallLimitMs;
    bool m_portOpen;
    bool m_transferActive;
    bool m_cancelRequested;

    // Serial port (ui/DeviceOperations.cpp)
    BOOL OpenMasterPort(BYTE port);
    void CloseMasterPort();

    // Firmware file (ui/DeviceOperations.cpp)
    BOOL OpenSourceFile();
    BOOL CheckSourceHeader();
    void CloseSourceFile();

    // Discovery (ui/EquipmentList.cpp)
    DWORD CountDevices();
    void EnumerateEquipment();
    void RefreshEquipmentList();
    void OnRefreshList();

    // Update flow (ui/UpdateFlow.cpp)
    void OnUpdate();
    BOOL ProgramDevice();
    BOOL TransferFirmware();

    // Window behaviour (ui/MainWindow.cpp, ui/WindowOperations.cpp)
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
    LineSettings Line() const { return {m_baudRate, m_hardwareFlowControl != 0}; }
    // Copies the engine's handles into the documented members.
    void SyncHandles();
    // Adds a unit found by a refresh to the list and its answer to the equipment table.
    void ListUnit(const Unit& unit);

    // A list refresh or an update is running; presses that would start another are ignored.
    bool m_operationRunning = false;
};
