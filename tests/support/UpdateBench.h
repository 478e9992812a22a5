#pragma once
// A bench for the update path: the real dialog, simulated equipment on one COM port, firmware
// files, and a record of what the dialog writes into its controls while an update runs.

#include "SimEquipment.h"
#include "support/DialogHarness.h"
#include "support/FirmwareImage.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// Sees every text and progress position the dialog gives its controls, through a
// WH_CALLWNDPROC hook on this thread, before the control takes it. An action may run on each
// text; the transfer pumps messages after every chunk and at each change of its presentation,
// so a message the action posts is dispatched at a known point of the update.
class ControlLog {
  public:
    struct StatusLine {
        std::string text;
        int progress; // the bar's position when the line was written
    };
    using TextAction = std::function<void(int id, const std::string& text)>;

    explicit ControlLog(HWND dialog);
    ~ControlLog();
    ControlLog(const ControlLog&) = delete;
    ControlLog& operator=(const ControlLog&) = delete;

    void OnText(TextAction action) { m_action = std::move(action); }
    const std::vector<StatusLine>& StatusLines() const { return m_status; }
    const std::vector<int>& ProgressPositions() const { return m_progress; }
    // Only the byte counts ("... bytes written (..%)") of the status lines.
    std::vector<std::string> ByteCounts() const;
    void Clear();

  private:
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
    void Seen(const CWPSTRUCT& message);

    HWND m_dialog;
    HHOOK m_hook = nullptr;
    TextAction m_action;
    std::vector<StatusLine> m_status;
    std::vector<int> m_progress;
};

// Posts a press of the Update/Cancel button, to be dispatched by the dialog's next pump.
void PostUpdateClick(HWND dialog);

// Turns a hang into a failure: ends the process with a message when the object lives longer
// than its limit. A write that never returns blocks the thread, so only another thread can.
class Watchdog {
  public:
    explicit Watchdog(DWORD limitMs);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    static DWORD WINAPI Watch(void* self);
    DWORD m_limitMs;
    HANDLE m_done;
    HANDLE m_thread;
};

class UpdateBench : public ::testing::Test {
  protected:
    // A port of the test prefix; the simulated unit answers "ver\r" with 01 07 by default.
    static constexpr int kPort = 5;
    static constexpr int kChunk = 2048;

    // A test still running after watchdogMs ends its process.
    explicit UpdateBench(DWORD watchdogMs = 30000);
    void SetUp() override;

    CUpdateUtilityDlg& Dialog() { return m_harness.Dialog(); }
    MessageBoxWatcher& Boxes() { return m_harness.Boxes(); }
    HWND Window() { return Dialog().m_hWnd; }

    // Puts the dialog in the state a refresh leaves when it found one unit on this port with
    // this device ID and version: one bridge, one selected entry, the table slot filled.
    void SelectEquipment(int port = kPort, signed char deviceId = 1, signed char version = 7);
    // Enters the file's path in the path field, as the user would.
    void EnterPath(const TempFile& file) { m_harness.SetText(1005, file.Path()); }
    // Enters the file's path and presses Update once; returns how long the press took.
    DWORD Update(const TempFile& file);
    // Back to a shown window, a closed port and clean records, for another press in one test.
    void Reset();
    void Configure(const std::string& behaviour);
    // Shortens how long the dialog's writes may wait on a unit that takes no data.
    void ShortenStallLimit(DWORD limitMs) { Dialog().m_writeStallLimitMs = limitMs; }

    // What the unit received in all: the dialog's port is closed first and the unit's record
    // of that session awaited, so no byte can still be on its way.
    std::string ReceivedInAll();
    int CloseCount() const;
    int EventCount(const std::string& prefix) const;

    // The file can be opened without sharing again: the tool holds it no longer.
    static bool FileIsFree(const TempFile& file);
    // The window is back in its idle presentation, with Update enabled and nothing pending.
    void ExpectIdle();
    // The one box shown was the completion message, and confirming it ended the dialog.
    void ExpectCompleted();

    Watchdog m_watchdog;
    DialogHarness m_harness;
    SimEquipment m_equipment;
    ControlLog m_log;
};
