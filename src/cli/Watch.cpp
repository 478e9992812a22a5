#include "cli/Watch.h"

#include "cli/BenchRecord.h"
#include "cli/Commands.h"
#include "cli/FirmwareCatalog.h"
#include "cli/JsonEvents.h"
#include "cli/PlugIns.h"
#include "cli/ProgressBar.h"
#include "cli/UnitSearch.h"
#include "cli/UnitText.h"
#include "cli/UnitUpdate.h"
#include "common/Clock.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "text/Messages.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace {

// How often the bridges are looked at. A unit plugged in is found within this, and its port is
// asked at once.
constexpr std::uint32_t kLookIntervalMs = 250;

// A unit's restart after its update may drop its bridge off the bus and bring it back, maybe on
// another port. For this long after its handling ended, a unit that comes back with the serial
// of a unit this watch updated and runs the version it was sent is that update's own, not a new
// plug-in.
constexpr std::uint32_t kRestartHoldOffMs = 120000;

// What every handling shares: the firmware, the command line, the record, the bridges and where
// to print.
struct Bench {
    const FirmwareCatalog& catalog;
    const Arguments& arguments;
    const BenchRecord* record; // nullptr without --record
    AttachedBridges& bridges;
    Console& console;
};

// How the handling of one plug-in ended; None when Ctrl+C came before anything was sent,
// Returned when it was a unit updated by this watch, back from its restart with the new version.
// Other when the bridge turned out to be another device with the same bridge chip, not a unit.
enum class Ending {
    None,
    Returned,
    Other,
    Updated,
    Unconfirmed,
    UpToDate,
    Refused,
    Failed,
    Cancelled
};

// What a unit this watch sent a file to runs when it is back.
struct SentFirmware {
    std::uint8_t deviceId = 0;
    int version = -1;
};

// "COM5 (serial T5)": the unit as each event line names it.
std::string Who(const Unit& unit) {
    return PortText(unit) + " (serial " + unit.serial + ")";
}

// One event line, after the local time.
void Event(Console& console, const std::string& what) {
    console.Print(Console::LocalTime() + "  " + what);
}

// One event as its JSON object, under --json.
void JsonEvent(Console& console, const char* event, const RecordRow& row) {
    console.JsonLine(EventJson(event, row));
}

// One plug-in, handled on a thread of its own: the unit is asked for its version, its file
// chosen and judged against it and, when it is meant for it, sent on the unit's own line; then,
// with --verify, the unit is asked for its new version. Each end is a line and, with --record, a
// row.
class Handling {
  public:
    // returning, when given, is what the unit was sent by this watch just before: a unit that
    // runs it is back from its restart, not a new plug-in.
    Handling(const Unit& unit, const Bench& bench, Signal& ended,
             std::optional<SentFirmware> returning = std::nullopt)
        : m_unit(unit), m_bench(bench), m_ended(ended), m_returning(returning) {}
    ~Handling() { Join(); }
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;

    // false when no thread can be had: the handling has then ended as failed.
    bool Start() {
        if (m_thread.Start([this] { Run(); }))
            return true;
        End(Ending::Failed, "failed " + Who(m_unit) +
                                ": no thread to handle it: " + SystemErrorText(LastSystemError()));
        return false;
    }
    void Join() { m_thread.Join(); }
    bool Ended() const { return m_done; }
    Ending Result() const { return m_result; }
    const Unit& Target() const { return m_unit; }
    // What the unit is sent by this handling; version -1 before its transfer starts.
    SentFirmware Sent() const { return {m_sentDeviceId, m_sentVersion}; }
    bool Sending() const { return m_sentVersion >= 0 && !m_done; }
    // The unit's update, once it has begun; it lives as long as the handling.
    const UnitUpdate* Update() const { return m_updating ? &*m_update : nullptr; }

  private:
    void Run() {
        const Arguments& arguments = m_bench.arguments;
        Console& console = m_bench.console;
        EquipmentFinder({}, console.LineTrace()).Query(m_unit);
        if (m_returning && m_unit.answered && m_unit.reply.deviceId == m_returning->deviceId &&
            InstalledOf(m_unit).version == m_returning->version) {
            JsonEvent(console, "back",
                      RecordOf(m_unit, nullptr, "runs the version sent", 0, "", ""));
            return End(Ending::Returned, "back " + Who(m_unit) + ": runs version " +
                                             ThreeDigits(m_returning->version) + ", as sent");
        }
        if (m_unit.OtherDevice()) {
            JsonEvent(console, "other",
                      RecordOf(m_unit, nullptr, OtherDeviceText(m_unit), 0, "", ""));
            return End(Ending::Other, "other " + Who(m_unit) + ": " + OtherDeviceText(m_unit));
        }
        Event(console, "found " + Describe(m_unit));
        JsonEvent(console, "found", RecordOf(m_unit, nullptr, "", 0, "", ""));
        const FirmwareChoice choice = m_bench.catalog.ChooseFor(m_unit, arguments.allowDowngrade);
        const std::string naming = m_bench.catalog.Naming(choice);
        const std::string unconfirmed = arguments.verify ? "no" : "";
        if (!choice.refusal.empty()) {
            // A unit that could not be asked was not served: the bench must look at it.
            if (!WhyNotChecked(m_unit).empty()) {
                Record("failed", choice.file, "not checked: " + choice.refusal, 0, "", unconfirmed);
                return End(Ending::Failed, "failed " + Who(m_unit) + ": " + choice.refusal);
            }
            const InstalledFirmware installed = InstalledOf(m_unit);
            const bool upToDate = choice.file && CheckCompatibility(choice.file->fields, &installed,
                                                                    false) == Verdict::SameVersion;
            Record("refused", choice.file, "refused: " + choice.refusal, 0, "", unconfirmed);
            return End(upToDate ? Ending::UpToDate : Ending::Refused,
                       "refused " + Who(m_unit) + ": " + naming + choice.refusal);
        }
        if (Console::CancelRequested())
            return End(Ending::None, "");
        const CatalogFile& file = *choice.file;
        Event(m_bench.console, "updating " + Who(m_unit) + " from firmware " +
                                   FirmwareText(m_unit) + " to version " +
                                   ThreeDigits(file.version) +
                                   (m_bench.catalog.FromFolder() ? " with " + file.name : "") +
                                   (choice.overridden ? " (--allow-downgrade)" : ""));
        JsonEvent(console, "updating", RecordOf(m_unit, &file, "", 0, "", ""));
        UnitUpdate& update =
            m_update.emplace(m_unit, file, m_bench.bridges, m_bench.console, m_updateEnded);
        update.PrintTenths(false);
        if (arguments.verify)
            update.ConfirmAfter(file.version,
                                {ConfirmLimits{}.intervalMs, arguments.verifyLimitMs});
        m_sentDeviceId = m_unit.reply.deviceId;
        m_sentVersion = file.version;
        m_updating = true;
        update.Start();
        update.Join();
        const std::string seconds = Seconds(update.ElapsedMs());
        const std::string sent =
            Who(m_unit) + ": " + std::to_string(update.Done()) + " bytes in " + seconds + " s";
        const auto ending = [&](Ending result, const std::string& line) {
            const char* event = result == Ending::Updated       ? "updated"
                                : result == Ending::Unconfirmed ? "unconfirmed"
                                : result == Ending::Cancelled   ? "cancelled"
                                                                : "failed";
            Record(event, &file, update.ResultText(), update.Done(), seconds,
                   update.ConfirmedText());
            End(result, line);
        };
        if (update.Outcome() == UnitOutcome::Failed)
            return ending(Ending::Failed, "failed " + Who(m_unit) + ": " + update.Failure());
        if (update.Outcome() == UnitOutcome::Cancelled)
            return ending(Ending::Cancelled,
                          "cancelled " + Who(m_unit) +
                              ": the unit may need the update again, as its firmware may be "
                              "incomplete");
        if (!update.Confirming())
            return ending(Ending::Updated, "updated " + sent);
        const Confirmation& confirmation = update.Confirmed();
        if (confirmation.confirmed)
            return ending(Ending::Updated, "updated " + sent + ", version " +
                                               ThreeDigits(file.version) + " confirmed");
        ending(confirmation.cancelled ? Ending::Cancelled : Ending::Unconfirmed,
               (confirmation.cancelled ? "cancelled " : "unconfirmed ") + sent + "; " +
                   update.ResultText());
    }

    // The end of the handling: a row of the record, and its event under --json.
    void Record(const char* event, const CatalogFile* file, const std::string& result,
                std::uint32_t bytes, const std::string& seconds,
                const std::string& confirmed) const {
        const RecordRow row = RecordOf(m_unit, file, result, bytes, seconds, confirmed);
        if (m_bench.record)
            m_bench.record->Append(row, m_bench.console);
        JsonEvent(m_bench.console, event, row);
    }

    void End(Ending result, const std::string& line) {
        if (!line.empty())
            Event(m_bench.console, line);
        m_result = result;
        m_done = true;
        m_ended.Set();
    }

    Unit m_unit;
    const Bench& m_bench;
    Signal& m_ended;
    Worker m_thread;
    std::optional<SentFirmware> m_returning;
    std::atomic<bool> m_done{false};
    std::atomic<Ending> m_result{Ending::None};
    std::atomic<std::uint8_t> m_sentDeviceId{0};
    std::atomic<int> m_sentVersion{-1};
    Signal m_updateEnded;
    std::optional<UnitUpdate> m_update;
    std::atomic<bool> m_updating{false};
};

// The units this watch sent a file to whose handling has ended, by serial, while their hold-off
// runs.
struct RecentUpdate {
    SentFirmware sent;
    std::uint64_t untilMs;
};
using RecentUpdates = std::map<std::string, RecentUpdate>;

// Whether a unit just plugged in is one whose handling is sending it a file or confirming it:
// its restart brought it back, and that handling follows it. A unit without a serial cannot be
// told from another.
bool BeingUpdated(const Unit& unit, const std::vector<std::unique_ptr<Handling>>& handlings) {
    return !unit.serial.empty() &&
           std::any_of(handlings.begin(), handlings.end(), [&unit](const auto& handling) {
               return handling->Target().serial == unit.serial && handling->Sending();
           });
}

// What a unit just plugged in was sent by a handling that ended within the hold-off.
std::optional<SentFirmware> Returning(const Unit& unit, const RecentUpdates& recent) {
    if (unit.serial.empty())
        return std::nullopt;
    if (const auto found = recent.find(unit.serial); found != recent.end())
        return found->second.sent;
    return std::nullopt;
}

struct Totals {
    unsigned updated = 0, unconfirmed = 0, upToDate = 0, refused = 0, failed = 0, cancelled = 0;

    void Count(Ending ending) {
        switch (ending) {
        case Ending::Updated:
            ++updated;
            break;
        case Ending::Unconfirmed:
            ++unconfirmed;
            break;
        case Ending::UpToDate:
            ++upToDate;
            break;
        case Ending::Refused:
            ++refused;
            break;
        case Ending::Failed:
            ++failed;
            break;
        case Ending::Cancelled:
            ++cancelled;
            break;
        case Ending::None:
        case Ending::Returned:
        case Ending::Other:
            break;
        }
    }
    std::string Text() const {
        return "Totals: " + std::to_string(updated) + " updated, " +
               (unconfirmed ? std::to_string(unconfirmed) + " not confirmed, " : "") +
               std::to_string(upToDate) + " up to date, " + std::to_string(refused) + " refused, " +
               std::to_string(failed) + " failed" +
               (cancelled ? ", " + std::to_string(cancelled) + " cancelled" : "");
    }
};

} // namespace

int RunWatch(const Arguments& arguments, Console& console) {
    FirmwareCatalog catalog;
    if (const int loaded = catalog.Load(arguments.file, console); loaded != kExitDone)
        return loaded;
    std::optional<BenchRecord> record;
    if (arguments.record)
        record.emplace(*arguments.record);
    if (record && !record->CanAppend(console))
        return kExitUsage;
    if (!arguments.yes) {
        if (console.Json() || !console.InputIsTerminal()) {
            console.Error(std::string("not started: ") +
                          (console.Json() ? "--json asks nothing"
                                          : "standard input is not a terminal to confirm on") +
                          "; add --yes to watch without asking");
            return kExitUsage;
        }
        if (!console.Confirm(std::string("Update every unit ") +
                             (catalog.FromFolder() ? "a file of this folder" : "this file") +
                             " is meant for as it is found, until Ctrl+C?")) {
            console.Result("Not started.");
            return kExitCancelled;
        }
    }
    AttachedBridges bridges;
    const Bench bench{catalog, arguments, record ? &*record : nullptr, bridges, console};
    console.Print("Watching for units; Ctrl+C ends the watch.");

    PlugIns plugIns;
    RecentUpdates recent;
    Signal changed;
    std::vector<std::unique_ptr<Handling>> handlings;
    Totals totals;
    std::string notice;
    const auto reap = [&](bool all) {
        for (auto handling = handlings.begin(); handling != handlings.end();) {
            if (!all && !(*handling)->Ended()) {
                ++handling;
                continue;
            }
            (*handling)->Join();
            totals.Count((*handling)->Result());
            const Ending ending = (*handling)->Result();
            if (const SentFirmware sent = (*handling)->Sent();
                sent.version >= 0 && ending != Ending::Failed && ending != Ending::Cancelled &&
                !(*handling)->Target().serial.empty())
                recent[(*handling)->Target().serial] = {sent, MonotonicMs() + kRestartHoldOffMs};
            plugIns.Handled((*handling)->Target());
            handling = handlings.erase(handling);
        }
    };
    while (!Console::CancelRequested()) {
        std::string now;
        const std::vector<Unit> attached = bridges.Look(&now);
        if (now != notice) {
            if (!now.empty())
                console.Error(now);
            notice = now;
        }
        reap(false);
        std::erase_if(recent,
                      [](const auto& entry) { return entry.second.untilMs < MonotonicMs(); });
        const PlugIns::Changes changes = plugIns.Look(attached);
        for (const Unit& unit : changes.unplugged) {
            Event(console, "unplugged " + Who(unit));
            JsonEvent(console, "unplugged", RecordOf(unit, nullptr, "", 0, "", ""));
        }
        for (const Unit& unit : changes.pluggedIn) {
            if (BeingUpdated(unit, handlings)) {
                plugIns.Handled(unit);
                continue;
            }
            handlings.push_back(
                std::make_unique<Handling>(unit, bench, changed, Returning(unit, recent)));
            handlings.back()->Start();
        }
        Console::TransfersRunning(!handlings.empty());
        std::vector<std::string> progress;
        for (const auto& handling : handlings)
            if (const UnitUpdate* update = handling->Update(); update && !handling->Ended())
                progress.push_back(ProgressBarLine(update->Progress(), console.Columns() - 1));
        if (progress.empty())
            console.EndProgress();
        else
            console.ShowProgress(progress);
        changed.Wait(kLookIntervalMs);
    }
    // The running transfers have seen the flag too: each stops and puts its line back.
    reap(true);
    Console::TransfersRunning(false);
    console.EndProgress();
    console.Result(totals.Text());
    const int code = totals.cancelled              ? kExitCancelled
                     : totals.failed               ? kExitFailed
                     : totals.unconfirmed          ? kExitUnconfirmed
                     : record && record->AnyLost() ? kExitNotRecorded
                                                   : kExitDone;
    console.JsonLine(TotalsJson({{"updated", totals.updated},
                                 {"unconfirmed", totals.unconfirmed},
                                 {"up_to_date", totals.upToDate},
                                 {"refused", totals.refused},
                                 {"failed", totals.failed},
                                 {"cancelled", totals.cancelled}},
                                code));
    return code;
}
