#pragma once
// One unit's update on a thread of its own: its own handle of the firmware file (shared with
// readers only), its own serial line, the transfer, and the line closed again, its settings
// put back, whatever the end. The thread's progress is read by the main thread while it runs.

#include "cli/Console.h"
#include "discovery/EquipmentFinder.h"
#include "cli/Sync.h"
#include "update/FirmwareTransfer.h"

#include <atomic>
#include <cstdint>
#include <string>

enum class UnitOutcome { Running, Updated, Failed, Cancelled };

class UnitUpdate {
  public:
    UnitUpdate(const Unit& unit, std::string path, Console& console, Signal& finished,
               const TransferOptions& options = {});
    ~UnitUpdate();
    UnitUpdate(const UnitUpdate&) = delete;
    UnitUpdate& operator=(const UnitUpdate&) = delete;

    // Whether a line is printed at every tenth of the file when the output is not a terminal
    // (the default); set before Start.
    void PrintTenths(bool print) { m_printTenths = print; }

    // Starts the thread; false (with the outcome Failed) when it cannot be had. finished is set
    // when the transfer has ended and the line is closed.
    bool Start();
    void Join();

    const Unit& Target() const { return m_unit; }
    std::uint32_t Done() const { return m_done; }
    std::uint32_t Total() const { return m_total; }
    std::uint32_t ElapsedMs() const;
    UnitOutcome Outcome() const { return m_outcome; }
    // Why it failed, in the window's words and the system's.
    const std::string& Failure() const { return m_failure; }

  private:
    class Observer;
    void Run();

    Unit m_unit;
    std::string m_path;
    Console& m_console;
    Signal& m_finished;
    TransferOptions m_options;
    Worker m_thread;
    std::atomic<std::uint32_t> m_done{0};
    std::atomic<std::uint32_t> m_total{0};
    std::atomic<std::uint64_t> m_startTick{0};
    std::atomic<std::uint64_t> m_endTick{0};
    std::atomic<UnitOutcome> m_outcome{UnitOutcome::Running};
    std::string m_failure;
    bool m_printTenths = true;
};
