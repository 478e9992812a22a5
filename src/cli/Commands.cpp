#include "cli/Commands.h"

#include "cli/BenchRecord.h"
#include "cli/FirmwareCatalog.h"
#include "cli/JsonEvents.h"
#include "cli/PortArgument.h"
#include "cli/ProgressBar.h"
#include "cli/UnitSearch.h"
#include "cli/UnitText.h"
#include "cli/UnitUpdate.h"
#include "common/Clock.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "text/Messages.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr std::uint32_t kProgressRedrawMs = 250;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The units behind the bridges, in the bridges' order, each asked at the same time as the
// others, and where the bridges came from. Bridges from the system's device list are announced
// with why the library was not used. Ctrl+C during the search ends the command once the search
// has closed every port again.
int FindUnits(Console& console, std::vector<Unit>& units, BridgeSource* source = nullptr) {
    EquipmentFinder finder({}, console.LineTrace());
    std::uint32_t count = 0;
    if (const DiscoveryResult counted = finder.CountBridges(count); !counted) {
        console.Error(MessageFor(counted.failed));
        return kExitNoUnit;
    }
    // Only where the library was passed over; Linux has no library to pass over.
    if (!finder.LibraryProblem())
        console.Error(DeviceListNotice(finder.LibraryProblem().failed));
    if (source)
        *source = finder.Source();
    units = IdentifyUnits(finder, count);
    QueryUnits(finder, units);
    if (Console::CancelRequested()) {
        console.Error("cancelled before anything was sent");
        return kExitCancelled;
    }
    return kExitDone;
}

// The units the command line names: the one on --port, the one with --serial, or all. Another
// device with the same bridge chip is no unit: it is never selected nor counted, but a port or
// serial it shares with a unit still names two bridges, which could be either.
int SelectUnits(const Arguments& arguments, const std::vector<Unit>& found, Console& console,
                std::vector<Unit>& selected) {
    const auto units = static_cast<size_t>(std::count_if(
        found.begin(), found.end(), [](const Unit& unit) { return !unit.OtherDevice(); }));
    if (!units) {
        console.Error(kNoEquipmentEntry);
        return kExitNoUnit;
    }
    // An update that names no unit takes the one connected; of several it would have to guess.
    if (arguments.command == Command::Update && !arguments.NamesUnits() && units > 1) {
        console.Error(std::to_string(units) +
                      " units are connected: name one with --port or --serial, or use --all:");
        for (const Unit& unit : found)
            if (!unit.OtherDevice())
                console.Error("  " + Describe(unit));
        return kExitUsage;
    }
    size_t named = 0;
    for (const Unit& unit : found) {
        if ((arguments.port && !SamePort(unit.device, *arguments.port)) ||
            (arguments.serial && unit.serial != *arguments.serial))
            continue;
        ++named;
        if (!unit.OtherDevice())
            selected.push_back(unit);
    }
    if (selected.empty()) {
        console.Error(arguments.port
                          ? "no Orvane equipment on " + *arguments.port
                          : "no Orvane equipment with serial " + Quoted(*arguments.serial));
        return kExitNoUnit;
    }
    // A name that fits more than one bridge names none of them: the wrong one could be sent the
    // file.
    if (arguments.serial && named > 1) {
        console.Error("serial " + Quoted(*arguments.serial) + " is on " + std::to_string(named) +
                      " units: name one with --port");
        return kExitUsage;
    }
    if (arguments.port && named > 1) {
        console.Error(*arguments.port + " is reported by " + std::to_string(named) +
                      " units: name one with --serial");
        return kExitUsage;
    }
    return kExitDone;
}

// The common start of check and update, which sends nothing: the firmware read (a file or a
// folder of them), then the units the command line names. The files stay held while the command
// runs.
struct PreparedCommand {
    FirmwareCatalog catalog;
    std::vector<Unit> units;
};

int OpenFileAndSelectUnits(const Arguments& arguments, Console& console, PreparedCommand& prepared,
                           const BenchRecord* record = nullptr) {
    if (const int loaded = prepared.catalog.Load(arguments.file, console); loaded != kExitDone)
        return loaded;
    // A run whose record cannot be written stops before any unit is asked.
    if (record && !record->CanAppend(console))
        return kExitUsage;
    std::vector<Unit> found;
    if (const int status = FindUnits(console, found); status != kExitDone)
        return status;
    const int selected = SelectUnits(arguments, found, console, prepared.units);
    if (selected == kExitDone)
        for (const Unit& unit : prepared.units)
            console.JsonLine(EventJson("found", RecordOf(unit, nullptr, "", 0, "", "")));
    return selected;
}

struct TableRow {
    std::string port, serial, old, result, bytes, seconds;
};

void PrintTable(Console& console, const std::vector<TableRow>& rows) {
    TableRow widths{"PORT", "SERIAL", "OLD", "RESULT", "BYTES", "SECONDS"};
    std::vector<TableRow> all{widths};
    all.insert(all.end(), rows.begin(), rows.end());
    size_t port = 0, serial = 0, old = 0, result = 0, bytes = 0;
    for (const TableRow& row : all) {
        port = std::max(port, row.port.size());
        serial = std::max(serial, row.serial.size());
        old = std::max(old, row.old.size());
        result = std::max(result, row.result.size());
        bytes = std::max(bytes, row.bytes.size());
    }
    const auto pad = [](const std::string& text, size_t width) {
        return text + std::string(width - text.size() + 2, ' ');
    };
    for (const TableRow& row : all)
        console.Result(pad(row.port, port) + pad(row.serial, serial) + pad(row.old, old) +
                       pad(row.result, result) + pad(row.bytes, bytes) + row.seconds);
}

} // namespace

int RunList(const Arguments& arguments, Console& console) {
    std::vector<Unit> units;
    BridgeSource source = BridgeSource::Library;
    if (const int found = FindUnits(console, units, &source); found != kExitDone)
        return found;
    const char* sourceText = source == BridgeSource::Library ? "library" : kSystemListSource;
    const size_t equipment = static_cast<size_t>(std::count_if(
        units.begin(), units.end(), [](const Unit& unit) { return !unit.OtherDevice(); }));
    if (arguments.json) {
        std::string json = "[";
        for (size_t i = 0; i < units.size(); ++i) {
            const Unit& unit = units[i];
            json += std::string(i ? "," : "") +
                    "\n  {\"port\": " + (HasPort(unit) ? JsonString(PortText(unit)) : "null") +
                    ", \"product\": " + JsonString(unit.product) +
                    ", \"serial\": " + JsonString(unit.serial) +
                    ", \"model\": " + (unit.answered ? ModelText(unit) : "null") +
                    ", \"firmware\": " + JsonString(FirmwareText(unit)) +
                    ", \"source\": " + JsonString(sourceText) +
                    ", \"kind\": " + (unit.OtherDevice() ? "\"other\"" : "\"unit\"") + "}";
        }
        console.JsonLine(json + (units.empty() ? "]" : "\n]"));
    } else {
        for (const Unit& unit : units)
            console.Result(PortText(unit) + "  " + Quoted(unit.product) + "  serial " +
                           unit.serial + "  " +
                           (unit.OtherDevice()
                                ? OtherDeviceText(unit)
                                : "model " + ModelText(unit) + "  firmware " + FirmwareText(unit)) +
                           "  via " + sourceText);
        if (!equipment)
            console.Result(kNoEquipmentEntry);
    }
    // A port this user may not open is said with what to do; when that kept every unit from
    // being asked, nothing was listed but names, so the list has failed.
    bool anyAsked = false, anyDenied = false;
    for (const Unit& unit : units) {
        if (unit.OtherDevice())
            continue;
        anyAsked = anyAsked || (unit.queried && unit.portOpened);
        if (PermissionDenied(unit)) {
            anyDenied = true;
            console.Error(PortText(unit) + ": " + WhyNotChecked(unit));
        }
    }
    return !equipment || (anyDenied && !anyAsked) ? kExitNoUnit : kExitDone;
}

int RunCheck(const Arguments& arguments, Console& console) {
    PreparedCommand prepared;
    if (const int status = OpenFileAndSelectUnits(arguments, console, prepared);
        status != kExitDone)
        return status;
    bool anyDenied = false;
    unsigned accepted = 0;
    for (const Unit& unit : prepared.units) {
        const FirmwareChoice choice = prepared.catalog.ChooseFor(unit, false);
        const std::string& refusal = choice.refusal;
        accepted += refusal.empty() ? 1 : 0;
        anyDenied = anyDenied || PermissionDenied(unit);
        const std::string result = refusal.empty() ? "accepted" : "refused: " + refusal;
        console.Result(Describe(unit) + ": " + prepared.catalog.Naming(choice) + result);
        console.JsonLine(EventJson(refusal.empty() ? "accepted" : "refused",
                                   RecordOf(unit, choice.file, result, 0, "", "")));
    }
    const int code = accepted ? kExitDone : anyDenied ? kExitNoUnit : kExitRefused;
    console.JsonLine(TotalsJson(
        {{"accepted", accepted}, {"refused", unsigned(prepared.units.size()) - accepted}}, code));
    return code;
}

int RunUpdate(const Arguments& arguments, Console& console) {
    std::optional<BenchRecord> record;
    if (arguments.record)
        record.emplace(*arguments.record);
    PreparedCommand prepared;
    if (const int status =
            OpenFileAndSelectUnits(arguments, console, prepared, record ? &*record : nullptr);
        status != kExitDone)
        return status;
    const FirmwareCatalog& catalog = prepared.catalog;
    const std::string unconfirmed = arguments.verify ? "no" : "";
    // A unit's end goes to the record and, under --json, out as its event.
    const auto report = [&](const char* event, const RecordRow& row) {
        if (record)
            record->Append(row, console);
        console.JsonLine(EventJson(event, row));
    };

    std::vector<Unit> targets;
    std::vector<const CatalogFile*> files;
    std::vector<TableRow> skipped;
    // A unit --all could not check may be one the file is meant for: it received nothing, so
    // the run fails. A unit of a model the folder is ambiguous for, or whose file does not match
    // the published checksums, is refused, not skipped.
    bool anyUnchecked = false, anyAmbiguous = false, anyUntrusted = false;
    for (const Unit& unit : prepared.units) {
        const FirmwareChoice choice = catalog.ChooseFor(unit, arguments.allowDowngrade);
        const std::string& refusal = choice.refusal;
        const std::string naming = catalog.Naming(choice);
        if (!refusal.empty() && !arguments.all) {
            report("refused",
                   RecordOf(unit, choice.file, "refused: " + refusal, 0, "", unconfirmed));
            console.Error(Describe(unit) + ": " + naming + refusal);
            const int code = PermissionDenied(unit)        ? kExitNoUnit
                             : WhyNotChecked(unit).empty() ? kExitRefused
                                                           : kExitFailed;
            console.JsonLine(TotalsJson({{"updated", 0}, {"refused", 1}}, code));
            return code;
        }
        if (!refusal.empty()) {
            const bool unchecked = !WhyNotChecked(unit).empty();
            anyUnchecked = anyUnchecked || unchecked;
            anyAmbiguous = anyAmbiguous || (!unchecked && choice.ambiguous);
            anyUntrusted = anyUntrusted || (!unchecked && choice.untrusted);
            const std::string result = (unchecked                              ? "not checked: "
                                        : choice.ambiguous || choice.untrusted ? "refused: "
                                                                               : "skipped: ") +
                                       refusal;
            console.Print(Describe(unit) + ": " + naming + result);
            skipped.push_back({PortText(unit), unit.serial, FirmwareText(unit), result, "0", "-"});
            report("refused", RecordOf(unit, choice.file, result, 0, "", unconfirmed));
            continue;
        }
        if (choice.overridden)
            console.Print("--allow-downgrade: " + PortText(unit) + " gets version " +
                          ThreeDigits(choice.file->version) + " over its " + FirmwareText(unit));
        targets.push_back(unit);
        files.push_back(choice.file);
    }
    const unsigned refusedCount = static_cast<unsigned>(prepared.units.size() - targets.size());
    const auto nothingSent = [&](int code, const std::string& why) {
        if (!skipped.empty())
            PrintTable(console, skipped);
        console.Error(why);
        console.JsonLine(TotalsJson({{"updated", 0}, {"refused", refusedCount}}, code));
        return code;
    };
    if (targets.empty() && anyUnchecked)
        return nothingSent(kExitFailed, "no unit updated: a unit could not be checked");
    if (targets.empty() && anyAmbiguous)
        return nothingSent(kExitRefused,
                           "no unit updated: the folder is ambiguous for a unit's model");
    if (targets.empty() && anyUntrusted)
        return nothingSent(kExitRefused,
                           "no unit updated: a file does not match the published checksums");
    if (targets.empty()) {
        skipped.clear();
        return nothingSent(kExitRefused,
                           catalog.FromFolder()
                               ? "no unit to update: no file in the folder is meant for any of them"
                               : "no unit to update: the file is meant for none of them");
    }

    std::string names;
    for (size_t i = 0; i < targets.size(); ++i)
        names += (names.empty() ? "" : ", ") + PortText(targets[i]) + " (serial " +
                 targets[i].serial + ", firmware " + FirmwareText(targets[i]) + ")" +
                 (catalog.FromFolder() ? " with " + files[i]->name + " (version " +
                                             ThreeDigits(files[i]->version) + ")"
                                       : "");
    if (!arguments.yes) {
        if (console.Json() || !console.InputIsTerminal()) {
            console.Error(std::string("not started: ") +
                          (console.Json() ? "--json asks nothing"
                                          : "standard input is not a terminal to confirm on") +
                          "; add --yes to update without asking");
            return kExitUsage;
        }
        if (!console.Confirm("Update " + names +
                             (catalog.FromFolder()
                                  ? std::string("?")
                                  : " to version " + ThreeDigits(files[0]->version) + "?"))) {
            console.Result("Not updated.");
            return kExitCancelled;
        }
    }
    if (Console::CancelRequested()) {
        console.Error("cancelled before anything was sent");
        return kExitCancelled;
    }
    Signal finished;
    AttachedBridges bridges;

    console.Print(std::string(kSendingMessage) + " " + names);
    std::vector<std::unique_ptr<UnitUpdate>> updates;
    Console::TransfersRunning(true);
    for (size_t i = 0; i < targets.size(); ++i) {
        updates.push_back(
            std::make_unique<UnitUpdate>(targets[i], *files[i], bridges, console, finished));
        if (arguments.verify)
            updates.back()->ConfirmAfter(files[i]->version,
                                         {ConfirmLimits{}.intervalMs, arguments.verifyLimitMs});
        console.JsonLine(EventJson("updating", RecordOf(targets[i], files[i], "", 0, "", "")));
        updates.back()->Start();
    }
    // One line per unit, drawn once more when all have ended, so that each shows its end.
    const auto showProgress = [&] {
        std::vector<std::string> lines;
        for (const auto& update : updates)
            lines.push_back(ProgressBarLine(update->Progress(), console.Columns() - 1));
        console.ShowProgress(lines);
    };
    for (;;) {
        const bool running = std::any_of(updates.begin(), updates.end(), [](const auto& update) {
            return update->Outcome() == UnitOutcome::Running;
        });
        if (!running)
            break;
        showProgress();
        finished.Wait(kProgressRedrawMs);
    }
    for (const auto& update : updates)
        update->Join();
    showProgress();
    Console::TransfersRunning(false);
    console.EndProgress();

    bool anyFailed = false, anyCancelled = false, anyUnconfirmed = false, askingCancelled = false;
    unsigned updatedCount = 0, unconfirmedCount = 0, failedCount = 0, cancelledCount = 0;
    std::vector<TableRow> rows;
    for (size_t i = 0; i < updates.size(); ++i) {
        const UnitUpdate& update = *updates[i];
        const Unit& unit = update.Target();
        const char* event = "updated";
        if (update.Outcome() == UnitOutcome::Failed) {
            anyFailed = true;
            event = "failed";
            ++failedCount;
            if (!arguments.all)
                console.Error(PortText(unit) + ": " + update.Failure());
        } else if (update.Outcome() == UnitOutcome::Cancelled) {
            anyCancelled = true;
            event = "cancelled";
            ++cancelledCount;
        } else if (update.Confirming() && !update.Confirmed().confirmed) {
            anyUnconfirmed = true;
            askingCancelled = askingCancelled || update.Confirmed().cancelled;
            event = update.Confirmed().cancelled ? "cancelled" : "unconfirmed";
            ++(update.Confirmed().cancelled ? cancelledCount : unconfirmedCount);
        } else {
            ++updatedCount;
        }
        const std::string result = update.ResultText();
        rows.push_back({PortText(unit), unit.serial, FirmwareText(unit), result,
                        std::to_string(update.Done()), Seconds(update.ElapsedMs())});
        report(event, RecordOf(unit, files[i], result, update.Done(), rows.back().seconds,
                               update.ConfirmedText()));
    }
    if (anyCancelled)
        console.Result("Update cancelled: the unit may need the update again, as its firmware may "
                       "be incomplete.");
    if (arguments.all) {
        rows.insert(rows.end(), skipped.begin(), skipped.end());
        PrintTable(console, rows);
    } else if (anyUnconfirmed) {
        console.Error(PortText(targets[0]) + ": " + rows[0].result);
    } else if (!anyFailed && !anyCancelled) {
        console.Result(
            std::string(kCompletedMessage) + " (" + PortText(targets[0]) + ", " +
            std::to_string(updates[0]->Done()) + " bytes in " + Seconds(updates[0]->ElapsedMs()) +
            " s)" +
            (arguments.verify ? ", version " + ThreeDigits(files[0]->version) + " confirmed" : ""));
    }
    const int code = anyCancelled || askingCancelled ? kExitCancelled
                     : anyFailed || anyUnchecked     ? kExitFailed
                     : anyUnconfirmed                ? kExitUnconfirmed
                     : anyAmbiguous || anyUntrusted  ? kExitRefused
                     : record && record->AnyLost()   ? kExitNotRecorded
                                                     : kExitDone;
    console.JsonLine(TotalsJson({{"updated", updatedCount},
                                 {"unconfirmed", unconfirmedCount},
                                 {"refused", refusedCount},
                                 {"failed", failedCount},
                                 {"cancelled", cancelledCount}},
                                code));
    return code;
}
