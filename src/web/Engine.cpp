// The page's calls into the engine. Each returns a JSON object as a string the caller frees;
// the ones that talk to a unit suspend while the browser's promises run (call them with
// ccall(..., {async: true})). The page does the browser's calls and the page; the rules (the
// check, the catalog's choice, the version query, the guarded update, the confirmation and
// their words) are the engine's.
#include "common/Sha256Digest.h"
#include "device/UnitCommands.h"
#include "firmware/Compatibility.h"
#include "firmware/FirmwareFile.h"
#include "firmware/NewestFile.h"
#include "text/Messages.h"
#include "update/UnitConfirmation.h"
#include "update/UpdateSession.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

// clang-format off
EM_JS(void, orvane_progress, (std::uint32_t done, std::uint32_t total), {
    if (Module.orvaneProgress) Module.orvaneProgress(done, total);
});
EM_JS(int, orvane_cancel_requested, (), {
    return Module.orvaneCancelRequested ? 1 : 0;
});
// The page's ports that came back since the update (Module.orvaneReturning, which also looks at
// the granted ports): up to capacity ids into ids, and their count.
EM_ASYNC_JS(int, orvane_returning_ports, (int* ids, int capacity), {
    const returning = Module.orvaneReturning ? await Module.orvaneReturning() : [];
    const taken = returning.slice(0, capacity);
    HEAP32.set(taken, ids >> 2);
    return taken.length;
});
// clang-format on

namespace {

std::string JsonText(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

char* Returned(const std::string& json) {
    char* copy = static_cast<char*>(std::malloc(json.size() + 1));
    std::memcpy(copy, json.c_str(), json.size() + 1);
    return copy;
}

std::string PortName(int portId) {
    return "web:" + std::to_string(portId);
}

// The catalog the page read (catalog.json), its files as the page listed them.
std::vector<CatalogFile> catalog;

// What the page's file is: its header's fields, size and SHA-256; "" when it could be read,
// else why not.
struct FileFacts {
    HeaderFields fields;
    std::uint32_t size = 0;
    std::string sha256;
};
std::string ReadFacts(const char* fileName, FileFacts& facts) {
    FirmwareFile file;
    if (const FirmwareResult opened = file.Open(fileName); !opened)
        return MessageFor(opened.failed);
    FirmwareHeader header{};
    if (const FirmwareResult read = file.ReadHeader(header); !read)
        return MessageFor(read.failed);
    if (const FirmwareResult sized = file.Size(facts.size); !sized)
        return MessageFor(sized.failed);
    Sha256Digest digest;
    std::vector<std::uint8_t> chunk(64 * 1024);
    for (std::uint32_t read = 1; read > 0;) {
        if (!file.Read(chunk.data(), static_cast<std::uint32_t>(chunk.size()), read))
            break;
        digest.Add(chunk.data(), read);
    }
    facts.fields = ReadHeaderFields(header);
    facts.sha256 = digest.Finish();
    return "";
}

std::string JsonNumber(const std::optional<int>& value) {
    return value ? std::to_string(*value) : "null";
}

// Opens the page's port named device and asks the unit for its model and version, as discovery
// does; "" when it answered, else why not.
std::string AskOn(const std::string& device, VersionReply& reply) {
    SerialLine line;
    std::string failure;
    if (const LineResult opened = line.Open(device); !opened)
        failure =
            std::string(MessageFor(opened.failed)) + ": " + SystemErrorText(opened.systemError);
    else if (const LineResult asked = QueryVersion(line, reply); !asked)
        failure = "the unit did not answer the version query";
    line.Close();
    return failure;
}

// The transfer as the page shows it: progress after each chunk, and Cancel, which the page's
// own dialog confirmed, looked at between chunks and while a write waits.
class PageObserver : public TransferObserver {
  public:
    bool Starting(std::uint32_t total) override {
        orvane_progress(0, total);
        return !orvane_cancel_requested();
    }
    bool Sending() override { return !orvane_cancel_requested(); }
    bool Written(std::uint32_t done, std::uint32_t total) override {
        orvane_progress(done, total);
        return !orvane_cancel_requested();
    }
    bool Waiting() override { return !orvane_cancel_requested(); }
};

} // namespace

extern "C" {

// The window's texts that the page shows as they are.
EMSCRIPTEN_KEEPALIVE char* orvane_texts() {
    return Returned("{\"cancelQuestion\": " + JsonText(kCancelQuestion) + ", \"cancelCaption\": " +
                    JsonText(kCancelCaption) + ", \"sending\": " + JsonText(kSendingMessage) +
                    ", \"completed\": " + JsonText(kCompletedMessage) +
                    ", \"noEquipment\": " + JsonText(kNoEquipmentEntry) +
                    ", \"confirmLimitMs\": " + std::to_string(kConfirmLimitMs) + "}");
}

// The file's header fields, size and SHA-256, and the verdict on it for a unit that answered
// model and version; allowOlder lets an older or the same version through, never another
// model's file.
EMSCRIPTEN_KEEPALIVE char* orvane_check(const char* fileName, int model, int version,
                                        int allowOlder) {
    FileFacts facts;
    if (const std::string problem = ReadFacts(fileName, facts); !problem.empty())
        return Returned("{\"accepted\": false, \"message\": " + JsonText(problem) + "}");
    const InstalledFirmware installed{model, version};
    const Verdict verdict = CheckAllowingDowngrade(facts.fields, installed, allowOlder != 0);
    return Returned(
        "{\"accepted\": " + std::string(verdict == Verdict::Accepted ? "true" : "false") +
        ", \"message\": " + JsonText(MessageFor(verdict)) + ", \"model\": " +
        JsonNumber(facts.fields.deviceId) + ", \"version\": " + JsonNumber(facts.fields.version) +
        ", \"size\": " + std::to_string(facts.size) + ", \"sha256\": " + JsonText(facts.sha256) +
        "}");
}

// Asks the unit on the page's port for its model and version, as discovery does.
EMSCRIPTEN_KEEPALIVE char* orvane_ask(int portId) {
    VersionReply reply;
    if (const std::string failure = AskOn(PortName(portId), reply); !failure.empty())
        return Returned("{\"answered\": false, \"message\": " + JsonText(failure) + "}");
    return Returned("{\"answered\": true, \"model\": " +
                    std::to_string(static_cast<signed char>(reply.deviceId)) + ", \"version\": " +
                    std::to_string(static_cast<signed char>(reply.version)) + "}");
}

// The guarded update of the unit on the page's port, as it was asked (model, version; answered
// 0 for a unit that did not answer, sent the file by the recovery choice) with the file as it
// was checked (name, size, SHA-256); stallLimitMs 0 keeps the engine's limit.
EMSCRIPTEN_KEEPALIVE char* orvane_update(int portId, const char* fileName, int size,
                                         const char* sha256, int answered, int model, int version,
                                         int stallLimitMs) {
    FirmwareFile file;
    FirmwareHeader header{};
    HeaderFields fields;
    if (file.Open(fileName) && file.ReadHeader(header))
        fields = ReadHeaderFields(header);
    file.Close();
    const CheckedFile checked{fileName, static_cast<std::uint32_t>(size), sha256, fields};
    const CheckedUnit unit{
        PortName(portId), "",
        VersionReply{static_cast<std::uint8_t>(model), static_cast<std::uint8_t>(version)},
        answered != 0};
    SessionOptions options;
    if (stallLimitMs > 0)
        options.transfer.stallLimitMs = static_cast<std::uint32_t>(stallLimitMs);
    PageObserver observer;
    const SessionResult result = RunUpdateSession(checked, unit, observer, options);
    const bool cancelled = result.failed == SessionError::Cancelled;
    std::string message = result ? kCompletedMessage : SessionFailureText(result, unit);
    return Returned("{\"updated\": " + std::string(result ? "true" : "false") +
                    ", \"cancelled\": " + (cancelled ? "true" : "false") + ", \"sent\": " +
                    std::to_string(result.sent) + ", \"message\": " + JsonText(message) + "}");
}

// The catalog's files, as the page read them from catalog.json: emptied, then one call a file.
EMSCRIPTEN_KEEPALIVE void orvane_catalog_clear() {
    catalog.clear();
}

EMSCRIPTEN_KEEPALIVE void orvane_catalog_add(const char* url, const char* name, int model,
                                             int version, int size, const char* sha256) {
    CatalogFile file;
    file.path = url;
    file.name = name;
    file.deviceId = model;
    file.version = version;
    file.size = static_cast<std::uint32_t>(size);
    file.sha256 = sha256;
    catalog.push_back(file);
}

// The catalog's file for a model, by the console's folder rule (NewestFor): the newest, or
// none, or none because the model is ambiguous.
EMSCRIPTEN_KEEPALIVE char* orvane_catalog_newest(int model) {
    const NewestFile newest = NewestFor(catalog, model);
    if (newest.Ambiguous())
        return Returned("{\"found\": false, \"ambiguous\": true, \"message\": " +
                        JsonText(AmbiguousModelText(model, newest.same->name, newest.other->name,
                                                    newest.other->version)) +
                        "}");
    if (!newest.file)
        return Returned("{\"found\": false, \"ambiguous\": false, \"message\": " +
                        JsonText("the catalog has no file for model " + std::to_string(model)) +
                        "}");
    const CatalogFile& file = *newest.file;
    return Returned("{\"found\": true, \"url\": " + JsonText(file.path) + ", \"name\": " +
                    JsonText(file.name) + ", \"model\": " + std::to_string(file.deviceId) +
                    ", \"version\": " + std::to_string(file.version) + ", \"size\": " +
                    std::to_string(file.size) + ", \"sha256\": " + JsonText(file.sha256) + "}");
}

// Whether the page's file, fetched from the catalog, is the one the catalog lists: its size,
// SHA-256 and header fields. accepted false with the reason otherwise.
EMSCRIPTEN_KEEPALIVE char* orvane_check_listed(const char* fileName, const char* name, int model,
                                               int version, int size, const char* sha256) {
    FileFacts facts;
    std::string problem = ReadFacts(fileName, facts);
    if (problem.empty())
        problem =
            NotAsListedText(name, facts.size, facts.sha256, facts.fields.deviceId.value_or(-1),
                            facts.fields.version.value_or(-1), static_cast<std::uint32_t>(size),
                            sha256, model, version);
    return Returned("{\"accepted\": " + std::string(problem.empty() ? "true" : "false") +
                    ", \"message\": " + JsonText(problem) + "}");
}

// After an update of the unit on the page's port (it answered model and oldVersion), whether it
// runs version: the ports that came back since (the page's Module.orvaneReturning) are asked
// within the console's --verify limits; limitMs 0 keeps the engine's limit.
EMSCRIPTEN_KEEPALIVE char* orvane_confirm(int portId, int model, int oldVersion, int version,
                                          int limitMs) {
    const CheckedUnit unit{
        PortName(portId), "",
        VersionReply{static_cast<std::uint8_t>(model), static_cast<std::uint8_t>(oldVersion)}};
    ConfirmLimits limits;
    if (limitMs > 0)
        limits.limitMs = static_cast<std::uint32_t>(limitMs);
    const auto returning = [] {
        int ids[16];
        const int count = orvane_returning_ports(ids, 16);
        std::vector<Unit> units;
        for (int i = 0; i < count; ++i) {
            Unit found;
            found.device = PortName(ids[i]);
            units.push_back(found);
        }
        return units;
    };
    const auto ask = [](Unit& found) {
        found.queried = true;
        found.answered = AskOn(found.device, found.reply).empty();
    };
    const Confirmation confirmation = ConfirmByAnswer(
        unit, version, limits, returning, [] { return true; }, ask);
    return Returned("{\"confirmed\": " + std::string(confirmation.confirmed ? "true" : "false") +
                    ", \"indistinct\": " + (confirmation.indistinct ? "true" : "false") +
                    ", \"message\": " + JsonText(ConfirmationText(confirmation, version)) + "}");
}

} // namespace
