#pragma once
// The update dialog: the tool's window, one face of the engine. It keeps the window's state
// (the equipment table, the selection, the path, the busy flags) and turns what the engine
// reports into the window's texts and boxes (text/Messages.h). The documented operations are
// short adapters over the engine, defined by concern in this folder.

#include "device/SerialLineWin.h"
#include "device/UnitCommands.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "firmware/FirmwareFileWin.h"
#include "framework/Afx.h"
#include "log/SupportLog.h"
#include "ui/DisplayScale.h"
#include "ui/EditWarning.h"

#include <dbt.h>
#include <shellapi.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The equipment table: one slot per COM port number 0..16.
constexpr int kEquipmentSlots = 17;
// The path box takes at most this many characters (UTF-16 units), typed or dropped.
constexpr int kMaxPathChars = 260;
// How long device notices must have stopped before the list refreshes by itself.
constexpr DWORD kDeviceSettleMs = 1000;
// The window's timer that waits for them to stop.
constexpr UINT_PTR kDeviceSettleTimer = 1;

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
    // The finder of the last count, which the listing that follows it examines.
    EquipmentFinder m_finder;
    DWORD m_baudRate;
    // How long a write may wait while the unit takes no data; tests shorten it.
    DWORD m_writeStallLimitMs;
    bool m_portOpen;
    bool m_transferActive;
    bool m_cancelRequested;
    // A removal notice named the port of the running transfer: the transfer stops at once.
    bool m_portRemoved = false;
    // The support log; its folder is taken from LOCALAPPDATA when the dialog is made.
    SupportLog m_supportLog;
    // How long device notices must have stopped before the list refreshes by itself; tests
    // shorten it.
    DWORD m_deviceSettleMs;
    // The window's font, controls and banner at its monitor's display scale.
    ScaledLayout m_layout;
    // Shows a folder in the system's file manager; false when it could not. Tests replace it.
    std::function<bool(HWND owner, const std::string& folder)> m_openFolder;

    // Serial port (ui/DeviceOperations.cpp)
    BOOL OpenMasterPort(BYTE port);
    void CloseMasterPort();

    // Firmware file (ui/DeviceOperations.cpp)
    BOOL OpenSourceFile();
    BOOL CheckSourceHeader();
    // A file that the SHA256SUMS beside it lists must match it, Shift held or not: a damaged
    // file is never what the owner wants. A file it does not list is sent as before.
    BOOL CheckPublishedChecksum();
    void CloseSourceFile();

    // Discovery (ui/EquipmentList.cpp)
    DWORD CountDevices();
    void EnumerateEquipment();
    void RefreshEquipmentList();
    void OnRefreshList();
    // The user selected an entry: its unit becomes the chosen one.
    void OnEquipmentSelected();

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
    // The message in the status line and an "Error" box (only the status line during a refresh
    // of its own), and in the support log with the system's reason when there is one.
    void ReportError(CString message, DWORD systemError = ERROR_SUCCESS);

    // Hot-plug and unplug (ui/DeviceChanges.cpp)
    void OnDeviceChange(WPARAM event, LPARAM data);
    void OnDeviceSettled();
    // Drag and drop, the title-bar menu (ui/DroppedFiles.cpp)
    void OnDropFiles(HDROP drop);
    void OnOpenLogFolder();

    DECLARE_MESSAGE_MAP()

  protected:
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  private:
    LineSettings Line() const { return {m_baudRate, m_hardwareFlowControl != 0}; }
    // Copies the engine's handles into the documented members.
    void SyncHandles();
    // Adds a unit found by a refresh to the list and its answer to the equipment table.
    void ListUnit(const Unit& unit);
    // The unit of the selected entry becomes the chosen one; none for the placeholder or no
    // selection.
    void ChooseSelectedUnit();
    // After a refresh of its own: selects the chosen unit wherever it is listed, and nothing
    // while it is missing.
    void SelectChosenUnit();
    // The status line no longer says that the chosen unit is missing.
    void EndChosenUnitNotice();
    // The same bridge: the same USB IDs and serial number, and for a bridge without a serial
    // also the same port.
    static bool SameBridge(const Unit& a, const Unit& b);

    // The port of the selected entry, as data exchange takes it.
    BYTE SelectedPortFromList() const;
    // A message box of the window's own, recorded in the support log with its answer.
    int ShowMessage(const char* text, const char* caption, UINT type,
                    DWORD systemError = ERROR_SUCCESS);

    // Device notices (ui/DeviceChanges.cpp)
    void RegisterForDeviceNotices();
    void UnregisterDeviceNotices();
    // No update, no refresh, no box or dialog of ours open, the list closed, the window shown.
    bool IdleForRefresh() const;
    // A refresh after device changes: failures only in the status line and the log; the chosen
    // unit is selected wherever it is listed, and nothing while it is missing.
    void RefreshAfterDeviceChanges();
    // A port or USB device that a device notice named: the notice's kind and the name it carries.
    struct NoticedDevice {
        DWORD type;
        std::string name;
    };
    // For a refresh after device changes: the unit's entry in the last refresh's list, listed
    // again without asking the unit, when that listed it on the same port with an answer, it is
    // not the chosen unit and no notice since named its port or USB device; nullptr when the
    // unit is to be asked.
    const Unit* KeptListing(const Unit& unit, const std::vector<Unit>& lastListed,
                            const std::vector<NoticedDevice>& noticed) const;

    // Support log records (ui/SupportRecords.cpp)
    void LogStart() const;
    // Where the bridges came from: the bridge library with its version, or the device list.
    void LogBridgeSource() const;
    void LogUnit(const Unit& unit) const;
    void LogChosenUnit() const;
    // The chosen file's path, size and SHA-256; false when the file could not be put back at
    // its start afterwards, with the system's reason in seekError.
    bool LogChosenFile(DWORD& seekError);
    void LogCheck(const HeaderFields& fields, Verdict verdict, bool overrideHeld) const;

    // A list refresh or an update is running; presses that would start another are ignored.
    bool m_operationRunning = false;
    // The units behind the list's entries, in entry order (none behind the placeholder).
    std::vector<Unit> m_listedUnits;
    // The refresh running was started by device changes, not by a press.
    bool m_automaticRefresh = false;
    // The unit the user chose: set when the user selects an entry, and by the selection of a
    // press of Refresh List or of the first refresh. A refresh of its own selects it again
    // wherever it is listed and never selects another unit in its place.
    std::optional<Unit> m_chosenUnit;
    // What the status line was given when the chosen unit went missing; empty while it is listed.
    CString m_chosenMissingText;
    // The ports and USB devices that device notices named since the last refresh began.
    std::vector<NoticedDevice> m_noticedDevices;
    // Device changes came that no refresh has followed yet.
    bool m_deviceChangePending = false;
    // The window has been shown: hidden again, it has ended.
    bool m_windowShown = false;
    // The unit the running transfer writes to.
    Unit m_transferUnit;
    HDEVNOTIFY m_portNotices = nullptr;
    HDEVNOTIFY m_usbNotices = nullptr;
};
