#include "cli/Watch.h"

#include "cli/Commands.h"
#include "cli/PlugIns.h"
#include "cli/PortArgument.h"
#include "cli/UnitSearch.h"
#include "cli/UnitText.h"
#include "cli/UnitUpdate.h"
#include "common/Clock.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "text/Messages.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}
// TEMPORARY COPY (until the firmware catalog lands)
int OpenFirmware(const std::string& path, Console& console, FirmwareFile& file,
                 HeaderFields& fields, std::uint32_t& size) {
    const std::string opening = std::string(MessageFor(FirmwareError::Open)) + " " + Quoted(path);
    if (IsFolder(path.c_str())) {
        console.Error(opening + ": it is a folder, not a firmware file");
        return kExitUsage;
    }
    if (const FirmwareResult opened = file.Open(path.c_str(), FileSharing::Readers); !opened) {
        console.Error(opening + ": " + SystemErrorText(opened.systemError));
        return kExitUsage;
    }
    FirmwareHeader header;
    FirmwareResult read = file.Size(size);
    if (read)
        read = file.ReadHeader(header);
    if (!read) {
        const bool refused =
            read.failed == FirmwareError::TooLarge || read.failed == FirmwareError::TooShort;
        console.Error(std::string(MessageFor(read.failed)) + ": " + path +
                      (refused ? "" : ": " + SystemErrorText(read.systemError)));
        return refused ? kExitRefused : kExitUsage;
    }
    fields = ReadHeaderFields(header);
    if (!fields.deviceId || !fields.version) {
        console.Error(std::string(MessageFor(Verdict::BadField)) + ": " + path);
        return kExitRefused;
    }
    console.Print("File " + path + ": model " + std::to_string(*fields.deviceId) + ", version " +
                  ThreeDigits(*fields.version) + ", " + std::to_string(size) + " bytes");
    return kExitDone;
}
// END OF TEMPORARY COPIES

// How often the bridges are looked at. A unit plugged in is found within this, and its port is
// asked at once.
constexpr std::uint32_t kLookIntervalMs = 250;

// The file the watch sends, held with readers only while the watch runs.
struct WatchedFirmware {
    std::string path;
    FirmwareFile file;
    HeaderFields fields;
    std::uint32_t size = 0;
};

// How the handling of one plug-in ended; None when Ctrl+C came before anything was sent.
enum class Ending { None, Updated, UpToDate, Refused, Failed, Cancelled };

// "COM5 (serial T5)": the unit as each event line names it.
std::string Who(const Unit& unit) {
    return PortText(unit) + " (serial " + unit.serial + ")";
}

// One event line, after the local time.
void Event(Console& console, const std::string& what) {
    console.Print(Console::LocalTime() + "  " + what);
}

// One plug-in, handled on a thread of its own: the unit is asked for its version, the file
// judged against it and, when it is meant for it, sent on the unit's own line.
class Handling {
  public:
    Handling(const Unit& unit, const WatchedFirmware& firmware, const Arguments& arguments,
             Console& console, Signal& ended)
        : m_unit(unit), m_firmware(firmware), m_arguments(arguments), m_console(console),
          m_ended(ended) {}
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

  private:
    void Run() {
        EquipmentFinder().Query(m_unit);
        Event(m_console, "found " + Describe(m_unit));
        bool overridden = false;
        const std::string refusal =
            Judge(m_firmware.fields, m_unit, m_arguments.allowDowngrade, &overridden);
        if (!refusal.empty()) {
            // A unit that could not be asked was not served: the bench must look at it.
            if (!m_unit.answered)
                return End(Ending::Failed, "failed " + Who(m_unit) + ": " + refusal);
            const InstalledFirmware installed = InstalledOf(m_unit);
            const bool upToDate =
                CheckCompatibility(m_firmware.fields, &installed, false) == Verdict::SameVersion;
            return End(upToDate ? Ending::UpToDate : Ending::Refused,
                       "refused " + Who(m_unit) + ": " + refusal);
        }
        if (Console::CancelRequested())
            return End(Ending::None, "");
        Event(m_console, "updating " + Who(m_unit) + " from firmware " + FirmwareText(m_unit) +
                             " to version " + ThreeDigits(*m_firmware.fields.version) +
                             (overridden ? " (--allow-downgrade)" : ""));
        Signal finished;
        UnitUpdate update(m_unit, m_firmware.path, m_console, finished);
        update.PrintTenths(false);
        update.Start();
        update.Join();
        switch (update.Outcome()) {
        case UnitOutcome::Updated:
            return End(Ending::Updated, "updated " + Who(m_unit) + ": " +
                                            std::to_string(update.Done()) + " bytes in " +
                                            Seconds(update.ElapsedMs()) + " s");
        case UnitOutcome::Cancelled:
            return End(Ending::Cancelled, "cancelled " + Who(m_unit) +
                                              ": the unit may need the update again, as its "
                                              "firmware may be incomplete");
        case UnitOutcome::Failed:
        case UnitOutcome::Running:
            break;
        }
        End(Ending::Failed, "failed " + Who(m_unit) + ": " + update.Failure());
    }

    void End(Ending result, const std::string& line) {
        if (!line.empty())
            Event(m_console, line);
        m_result = result;
        m_done = true;
        m_ended.Set();
    }

    Unit m_unit;
    const WatchedFirmware& m_firmware;
    const Arguments& m_arguments;
    Console& m_console;
    Signal& m_ended;
    Worker m_thread;
    std::atomic<bool> m_done{false};
    std::atomic<Ending> m_result{Ending::None};
};

struct Totals {
    unsigned updated = 0, upToDate = 0, refused = 0, failed = 0, cancelled = 0;

    void Count(Ending ending) {
        switch (ending) {
        case Ending::Updated:
            ++updated;
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
            break;
        }
    }
    std::string Text() const {
        return "Totals: " + std::to_string(updated) + " updated, " + std::to_string(upToDate) +
               " up to date, " + std::to_string(refused) + " refused, " + std::to_string(failed) +
               " failed" + (cancelled ? ", " + std::to_string(cancelled) + " cancelled" : "");
    }
};

// What the bridges' source says, when it changed since the last look: the bridge library's
// failure, or that the bridges come from the system's device list and why.
std::string SourceNotice(const DiscoveryResult& counted, const EquipmentFinder& finder) {
    if (!counted)
        return MessageFor(counted.failed);
    return finder.LibraryProblem() ? "" : DeviceListNotice(finder.LibraryProblem().failed);
}

} // namespace

int RunWatch(const Arguments& arguments, Console& console) {
    WatchedFirmware firmware;
    firmware.path = arguments.file;
    if (const int opened =
            OpenFirmware(firmware.path, console, firmware.file, firmware.fields, firmware.size);
        opened != kExitDone)
        return opened;
    if (!arguments.yes) {
        if (!console.InputIsTerminal()) {
            console.Error("not started: standard input is not a terminal to confirm on; add "
                          "--yes to watch without asking");
            return kExitUsage;
        }
        if (!console.Confirm("Update every unit this file is meant for as it is found, until "
                             "Ctrl+C?")) {
            console.Print("Not started.");
            return kExitCancelled;
        }
    }
    console.Print("Watching for units; Ctrl+C ends the watch.");

    EquipmentFinder finder;
    PlugIns plugIns;
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
            plugIns.Handled((*handling)->Target());
            handling = handlings.erase(handling);
        }
    };
    while (!Console::CancelRequested()) {
        std::uint32_t count = 0;
        const DiscoveryResult counted = finder.CountBridges(count);
        if (const std::string now = SourceNotice(counted, finder); now != notice) {
            if (!now.empty())
                console.Error(now);
            notice = now;
        }
        reap(false);
        const PlugIns::Changes changes = plugIns.Look(IdentifyUnits(finder, count));
        for (const Unit& unit : changes.unplugged)
            Event(console, "unplugged " + Who(unit));
        for (const Unit& unit : changes.pluggedIn) {
            handlings.push_back(
                std::make_unique<Handling>(unit, firmware, arguments, console, changed));
            handlings.back()->Start();
        }
        Console::TransfersRunning(!handlings.empty());
        changed.Wait(kLookIntervalMs);
    }
    // The running transfers have seen the flag too: each stops and puts its line back.
    reap(true);
    Console::TransfersRunning(false);
    console.Print(totals.Text());
    if (totals.cancelled)
        return kExitCancelled;
    return totals.failed ? kExitFailed : kExitDone;
}
