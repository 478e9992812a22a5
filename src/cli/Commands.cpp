#include "cli/Commands.h"

#include "cli/BenchRecord.h"
#include "cli/FirmwareCatalog.h"
#include "cli/PortArgument.h"
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
    EquipmentFinder finder;
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

// The units the command line names: the one on --port, the one with --serial, or all.
int SelectUnits(const Arguments& arguments, const std::vector<Unit>& found, Console& console,
                std::vector<Unit>& selected) {
    if (found.empty()) {
        console.Error(kNoEquipmentEntry);
        return kExitNoUnit;
    }
    for (const Unit& unit : found) {
        if ((arguments.port && !SamePort(unit.device, *arguments.port)) ||
            (arguments.serial && unit.serial != *arguments.serial))
            continue;
        selected.push_back(unit);
    }
    if (selected.empty()) {
        console.Error(arguments.port
                          ? "no Orvane equipment on " + *arguments.port
                          : "no Orvane equipment with serial " + Quoted(*arguments.serial));
        return kExitNoUnit;
    }
    // A name that fits more than one unit names none of them: the wrong one could be sent the
    // file.
    if (arguments.serial && selected.size() > 1) {
        console.Error("serial " + Quoted(*arguments.serial) + " is on " +
                      std::to_string(selected.size()) + " units: name one with --port");
        return kExitUsage;
    }
    if (arguments.port && selected.size() > 1) {
        console.Error(*arguments.port + " is reported by " + std::to_string(selected.size()) +
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
    return SelectUnits(arguments, found, console, prepared.units);
}

// "COM5: 524288 of 1049088 bytes (49%), 46080 bytes/s, 12 s left".
std::string ProgressLine(const std::string& who, unsigned long long done, unsigned long long total,
                         std::uint32_t elapsedMs) {
    const unsigned long long percent = total ? done * 100 / total : 100;
    const unsigned long long rate = elapsedMs ? done * 1000 / elapsedMs : 0;
    std::string line = who + ": " + std::to_string(done) + " of " + std::to_string(total) +
                       " bytes (" + std::to_string(percent) + "%), " + std::to_string(rate) +
                       " bytes/s, ";
    if (rate == 0)
        return line + "time left unknown";
    return line + std::to_string((total - done + rate - 1) / rate) + " s left";
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
        console.Print(pad(row.port, port) + pad(row.serial, serial) + pad(row.old, old) +
                      pad(row.result, result) + pad(row.bytes, bytes) + row.seconds);
}

// The length of the well-formed UTF-8 character that starts at text[at]: no overlong form, no
// surrogate, nothing above U+10FFFF, none cut short by the end of the text. 0 when there is none.
size_t Utf8CharacterLength(const std::string& text, size_t at) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range, narrower for some leads
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

// A device text as a JSON string in UTF-8. The bridge's texts need not be UTF-8: a character
// that is well-formed UTF-8 passes whole, and any other byte is taken as the Latin-1 character
// of its value.
std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += text[at++];
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            json += escaped;
            ++at;
        } else if (byte < 0x80) {
            json += text[at++];
        } else if (const size_t length = Utf8CharacterLength(text, at); length != 0) {
            json.append(text, at, length);
            at += length;
        } else {
            json += static_cast<char>(0xC0 | byte >> 6);
            json += static_cast<char>(0x80 | (byte & 0x3F));
            ++at;
        }
    }
    return json + "\"";
}

} // namespace

int RunList(const Arguments& arguments, Console& console) {
    std::vector<Unit> units;
    BridgeSource source = BridgeSource::Library;
    if (const int found = FindUnits(console, units, &source); found != kExitDone)
        return found;
    const char* sourceText = source == BridgeSource::Library ? "library" : "device list";
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
                    ", \"source\": " + JsonString(sourceText) + "}";
        }
        console.Print(json + (units.empty() ? "]" : "\n]"));
    } else {
        for (const Unit& unit : units)
            console.Print(PortText(unit) + "  " + Quoted(unit.product) + "  serial " + unit.serial +
                          "  model " + ModelText(unit) + "  firmware " + FirmwareText(unit) +
                          "  via " + sourceText);
        if (units.empty())
            console.Print(kNoEquipmentEntry);
    }
    return units.empty() ? kExitNoUnit : kExitDone;
}

int RunCheck(const Arguments& arguments, Console& console) {
    PreparedCommand prepared;
    if (const int status = OpenFileAndSelectUnits(arguments, console, prepared);
        status != kExitDone)
        return status;
    bool anyAccepted = false, anyDenied = false;
    for (const Unit& unit : prepared.units) {
        const FirmwareChoice choice = prepared.catalog.ChooseFor(unit, false);
        const std::string& refusal = choice.refusal;
        anyAccepted = anyAccepted || refusal.empty();
        anyDenied = anyDenied || PermissionDenied(unit);
        console.Print(Describe(unit) + ": " + prepared.catalog.Naming(choice) +
                      (refusal.empty() ? "accepted" : "refused: " + refusal));
    }
    if (anyAccepted)
        return kExitDone;
    return anyDenied ? kExitNoUnit : kExitRefused;
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

    std::vector<Unit> targets;
    std::vector<const CatalogFile*> files;
    std::vector<TableRow> skipped;
    // A unit --all could not check may be one the file is meant for: it received nothing, so
    // the run fails. A unit of a model the folder is ambiguous for is refused, not skipped.
    bool anyUnchecked = false, anyAmbiguous = false;
    for (const Unit& unit : prepared.units) {
        const FirmwareChoice choice = catalog.ChooseFor(unit, arguments.allowDowngrade);
        const std::string& refusal = choice.refusal;
        const std::string naming = catalog.Naming(choice);
        if (!refusal.empty() && !arguments.all) {
            if (record)
                record->Append(
                    RecordOf(unit, choice.file, "refused: " + refusal, 0, "", unconfirmed),
                    console);
            console.Error(Describe(unit) + ": " + naming + refusal);
            if (PermissionDenied(unit))
                return kExitNoUnit;
            return WhyNotChecked(unit).empty() ? kExitRefused : kExitFailed;
        }
        if (!refusal.empty()) {
            const bool unchecked = !WhyNotChecked(unit).empty();
            anyUnchecked = anyUnchecked || unchecked;
            anyAmbiguous = anyAmbiguous || (!unchecked && choice.ambiguous);
            const std::string result = (unchecked          ? "not checked: "
                                        : choice.ambiguous ? "refused: "
                                                           : "skipped: ") +
                                       refusal;
            console.Print(Describe(unit) + ": " + naming + result);
            skipped.push_back({PortText(unit), unit.serial, FirmwareText(unit), result, "0", "-"});
            if (record)
                record->Append(RecordOf(unit, choice.file, result, 0, "", unconfirmed), console);
            continue;
        }
        if (choice.overridden)
            console.Print("--allow-downgrade: " + PortText(unit) + " gets version " +
                          ThreeDigits(choice.file->version) + " over its " + FirmwareText(unit));
        targets.push_back(unit);
        files.push_back(choice.file);
    }
    if (targets.empty() && anyUnchecked) {
        PrintTable(console, skipped);
        console.Error("no unit updated: a unit could not be checked");
        return kExitFailed;
    }
    if (targets.empty() && anyAmbiguous) {
        PrintTable(console, skipped);
        console.Error("no unit updated: the folder is ambiguous for a unit's model");
        return kExitRefused;
    }
    if (targets.empty()) {
        console.Error(catalog.FromFolder()
                          ? "no unit to update: no file in the folder is meant for any of them"
                          : "no unit to update: the file is meant for none of them");
        return kExitRefused;
    }

    std::string names;
    for (size_t i = 0; i < targets.size(); ++i)
        names += (names.empty() ? "" : ", ") + PortText(targets[i]) + " (serial " +
                 targets[i].serial + ", firmware " + FirmwareText(targets[i]) + ")" +
                 (catalog.FromFolder() ? " with " + files[i]->name + " (version " +
                                             ThreeDigits(files[i]->version) + ")"
                                       : "");
    if (!arguments.yes) {
        if (!console.InputIsTerminal()) {
            console.Error("not started: standard input is not a terminal to confirm on; add "
                          "--yes to update without asking");
            return kExitUsage;
        }
        if (!console.Confirm("Update " + names +
                             (catalog.FromFolder()
                                  ? std::string("?")
                                  : " to version " + ThreeDigits(files[0]->version) + "?"))) {
            console.Print("Not updated.");
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
        updates.back()->Start();
    }
    const std::string who =
        updates.size() == 1 ? PortText(targets[0]) : std::to_string(updates.size()) + " units";
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        const bool running = std::any_of(updates.begin(), updates.end(), [](const auto& update) {
            return update->Outcome() == UnitOutcome::Running;
        });
        if (!running)
            break;
        if (console.OutputIsTerminal()) {
            unsigned long long done = 0, total = 0;
            for (size_t i = 0; i < updates.size(); ++i) {
                done += updates[i]->Done();
                total += updates[i]->Total() ? updates[i]->Total() : files[i]->size;
            }
            console.ShowProgress(
                ProgressLine(who, done, total, static_cast<std::uint32_t>(MonotonicMs() - start)));
        }
        finished.Wait(kProgressRedrawMs);
    }
    for (const auto& update : updates)
        update->Join();
    Console::TransfersRunning(false);
    console.EndProgress();

    bool anyFailed = false, anyCancelled = false, anyUnconfirmed = false, askingCancelled = false;
    std::vector<TableRow> rows;
    for (size_t i = 0; i < updates.size(); ++i) {
        const UnitUpdate& update = *updates[i];
        const Unit& unit = update.Target();
        if (update.Outcome() == UnitOutcome::Failed) {
            anyFailed = true;
            if (!arguments.all)
                console.Error(PortText(unit) + ": " + update.Failure());
        } else if (update.Outcome() == UnitOutcome::Cancelled) {
            anyCancelled = true;
        } else if (update.Confirming()) {
            anyUnconfirmed = anyUnconfirmed || !update.Confirmed().confirmed;
            askingCancelled = askingCancelled || update.Confirmed().cancelled;
        }
        const std::string result = update.ResultText();
        rows.push_back({PortText(unit), unit.serial, FirmwareText(unit), result,
                        std::to_string(update.Done()), Seconds(update.ElapsedMs())});
        if (record)
            record->Append(RecordOf(unit, files[i], result, update.Done(), rows.back().seconds,
                                    update.ConfirmedText()),
                           console);
    }
    if (anyCancelled)
        console.Print("Update cancelled: the unit may need the update again, as its firmware may "
                      "be incomplete.");
    if (arguments.all) {
        rows.insert(rows.end(), skipped.begin(), skipped.end());
        PrintTable(console, rows);
    } else if (anyUnconfirmed) {
        console.Error(PortText(targets[0]) + ": " + rows[0].result);
    } else if (!anyFailed && !anyCancelled) {
        console.Print(
            std::string(kCompletedMessage) + " (" + PortText(targets[0]) + ", " +
            std::to_string(updates[0]->Done()) + " bytes in " + Seconds(updates[0]->ElapsedMs()) +
            " s)" +
            (arguments.verify ? ", version " + ThreeDigits(files[0]->version) + " confirmed" : ""));
    }
    if (anyCancelled || askingCancelled)
        return kExitCancelled;
    if (anyFailed || anyUnchecked)
        return kExitFailed;
    if (anyUnconfirmed)
        return kExitUnconfirmed;
    if (anyAmbiguous)
        return kExitRefused;
    return record && record->AnyLost() ? kExitNotRecorded : kExitDone;
}
