#pragma once
// One unit's update on a thread of its own: its own handle of the firmware file (shared with
// readers only), its own serial line, the transfer, and the line closed again, its settings
// put back, whatever the end. The thread's progress is read by the main thread while it runs.

#include "cli/Console.h"
#include "discovery/EquipmentFinder.h"
#include "update/FirmwareTransfer.h"

#include <windows.h>

#include <atomic>
#include <string>

enum class UnitOutcome { Running, Updated, Failed, Cancelled };

class UnitUpdate {
  public:
    UnitUpdate(const Unit& unit, std::string path, Console& console, HANDLE finished,
               const TransferOptions& options = {});
    ~UnitUpdate();
    UnitUpdate(const UnitUpdate&) = delete;
    UnitUpdate& operator=(const UnitUpdate&) = delete;

    // Starts the thread; false (with the outcome Failed) when it cannot be had. finished is set
    // when the transfer has ended and the line is closed.
    bool Start();
    void Join();

    const Unit& Target() const { return m_unit; }
    DWORD Done() const { return m_done; }
    DWORD Total() const { return m_total; }
    DWORD ElapsedMs() const;
    UnitOutcome Outcome() const { return m_outcome; }
    // Why it failed, in the window's words and the system's.
    const std::string& Failure() const { return m_failure; }

  private:
    class Observer;
    static DWORD WINAPI ThreadMain(void* self);
    void Run();

    Unit m_unit;
    std::string m_path;
    Console& m_console;
    HANDLE m_finished;
    TransferOptions m_options;
    HANDLE m_thread = nullptr;
    std::atomic<DWORD> m_done{0};
    std::atomic<DWORD> m_total{0};
    std::atomic<ULONGLONG> m_startTick{0};
    std::atomic<ULONGLONG> m_endTick{0};
    std::atomic<UnitOutcome> m_outcome{UnitOutcome::Running};
    std::string m_failure;
};

// "COM5".
std::string PortName(int port);
