#pragma once
// One unit's update on a thread of its own: the guarded update of the file and the unit as they
// were checked, then, when asked for, the confirmation of the new version by the unit's bridge
// serial. The thread's progress is read by the main thread while it runs.

#include "cli/Console.h"
#include "cli/FirmwareCatalog.h"
#include "cli/ProgressBar.h"
#include "cli/Sync.h"
#include "cli/UnitSearch.h"
#include "discovery/EquipmentFinder.h"
#include "update/UnitConfirmation.h"
#include "update/UpdateSession.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <string>

enum class UnitOutcome { Running, Updated, Failed, Cancelled };

class UnitUpdate {
  public:
    // bridges serves the check of the bridge behind the port and the confirmation; it and the
    // file outlive the update.
    UnitUpdate(const Unit& unit, const CatalogFile& file, AttachedBridges& bridges,
               Console& console, Signal& finished, const TransferOptions& options = {});
    ~UnitUpdate();
    UnitUpdate(const UnitUpdate&) = delete;
    UnitUpdate& operator=(const UnitUpdate&) = delete;

    // Whether a line is printed at every tenth of the file when progress is not redrawn in place
    // (the default); set before Start. Under --json a progress event is written at every tenth
    // either way.
    void PrintTenths(bool print) { m_printTenths = print; }

    // Starts the thread; false (with the outcome Failed) when it cannot be had. finished is set
    // when the transfer has ended and the line is closed.
    bool Start();
    void Join();
    // Before Start: once the file has been sent, confirm that the unit runs version.
    void ConfirmAfter(int version, const ConfirmLimits& limits);

    const Unit& Target() const { return m_unit; }
    std::uint32_t Done() const { return m_done; }
    std::uint32_t Total() const { return m_total; }
    // The transfer's time, without the confirmation.
    std::uint32_t ElapsedMs() const;
    // The update as its progress line shows it.
    UnitProgress Progress() const;
    UnitOutcome Outcome() const { return m_outcome; }
    // Why it failed, in the window's words and the system's.
    const std::string& Failure() const { return m_failure; }
    // Whether the new version was asked for, and the answer; read once the outcome is known.
    bool Confirming() const { return m_confirmVersion >= 0; }
    const Confirmation& Confirmed() const { return m_confirmation; }
    // The ended update as the table and the record give it: "updated", "failed: why",
    // "cancelled: may need the update again", or what the confirmation found.
    std::string ResultText() const;
    // For the record: "yes" or "no" when the new version was asked for, "" when it was not.
    std::string ConfirmedText() const;

  private:
    class Observer;
    void Run();

    Unit m_unit;
    const CatalogFile& m_file;
    AttachedBridges& m_bridges;
    Console& m_console;
    Signal& m_finished;
    TransferOptions m_options;
    Worker m_thread;
    std::atomic<std::uint32_t> m_done{0};
    std::atomic<std::uint32_t> m_total{0};
    std::atomic<std::uint64_t> m_startTick{0};
    std::atomic<std::uint64_t> m_endTick{0};
    std::atomic<std::uint64_t> m_confirmTick{0}; // when the confirmation began; 0 before
    std::atomic<UnitOutcome> m_outcome{UnitOutcome::Running};
    std::string m_failure;
    int m_confirmVersion = -1;
    ConfirmLimits m_confirmLimits;
    Confirmation m_confirmation;
    bool m_printTenths = true;
};
