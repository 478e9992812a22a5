// The page's calls into the engine. Each returns a JSON object as a string the caller frees;
// the ones that talk to a unit suspend while the browser's promises run (call them with
// ccall(..., {async: true})). The page does the browser's calls and the page; the rules (the
// check, the version query, the guarded update and their words) are the engine's.
#include "common/Sha256Digest.h"
#include "device/UnitCommands.h"
#include "firmware/Compatibility.h"
#include "firmware/FirmwareFile.h"
#include "text/Messages.h"
#include "update/UpdateSession.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// clang-format off
EM_JS(void, orvane_progress, (std::uint32_t done, std::uint32_t total), {
    if (Module.orvaneProgress) Module.orvaneProgress(done, total);
});
EM_JS(int, orvane_cancel_requested, (), {
    return Module.orvaneCancelRequested ? 1 : 0;
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
                    ", \"noEquipment\": " + JsonText(kNoEquipmentEntry) + "}");
}

// The file's header fields, size and SHA-256, and the verdict on it for a unit that answered
// model and version; allowOlder lets an older or the same version through, never another
// model's file.
EMSCRIPTEN_KEEPALIVE char* orvane_check(const char* fileName, int model, int version,
                                        int allowOlder) {
    FirmwareFile file;
    if (const FirmwareResult opened = file.Open(fileName); !opened)
        return Returned(
            "{\"accepted\": false, \"message\": " + JsonText(MessageFor(opened.failed)) + "}");
    FirmwareHeader header{};
    std::uint32_t size = 0;
    if (const FirmwareResult read = file.ReadHeader(header); !read)
        return Returned("{\"accepted\": false, \"message\": " + JsonText(MessageFor(read.failed)) +
                        "}");
    if (const FirmwareResult sized = file.Size(size); !sized)
        return Returned("{\"accepted\": false, \"message\": " + JsonText(MessageFor(sized.failed)) +
                        "}");
    Sha256Digest digest;
    std::vector<std::uint8_t> chunk(64 * 1024);
    for (std::uint32_t read = 1; read > 0;) {
        if (!file.Read(chunk.data(), static_cast<std::uint32_t>(chunk.size()), read))
            break;
        digest.Add(chunk.data(), read);
    }
    const HeaderFields fields = ReadHeaderFields(header);
    const InstalledFirmware installed{model, version};
    const Verdict verdict = CheckAllowingDowngrade(fields, installed, allowOlder != 0);
    return Returned(
        "{\"accepted\": " + std::string(verdict == Verdict::Accepted ? "true" : "false") +
        ", \"message\": " + JsonText(MessageFor(verdict)) +
        ", \"model\": " + (fields.deviceId ? std::to_string(*fields.deviceId) : "null") +
        ", \"version\": " + (fields.version ? std::to_string(*fields.version) : "null") +
        ", \"size\": " + std::to_string(size) + ", \"sha256\": " + JsonText(digest.Finish()) + "}");
}

// Asks the unit on the page's port for its model and version, as discovery does.
EMSCRIPTEN_KEEPALIVE char* orvane_ask(int portId) {
    SerialLine line;
    VersionReply reply;
    std::string failure;
    if (const LineResult opened = line.Open(PortName(portId)); !opened)
        failure =
            std::string(MessageFor(opened.failed)) + ": " + SystemErrorText(opened.systemError);
    else if (const LineResult asked = QueryVersion(line, reply); !asked)
        failure = "the unit did not answer the version query";
    line.Close();
    if (!failure.empty())
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

} // extern "C"
