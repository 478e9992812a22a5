#pragma once
// The guarded update: the one step by which the console program and the web page program a
// unit. It takes the file and the unit as they were checked, and it alone reads the file's
// bytes, opens the port, asks the unit again on that line, sends "pgm\r" and exactly the checked
// bytes, and decides whether the unit was updated:
//
//   1. the whole file is read into memory (at most kSessionFileLimit bytes) and its SHA-256
//      compared with the checked one, so that the bytes sent are the bytes checked, whatever
//      happens to the file afterwards;
//   2. the port is opened; where the system shows which bridge is behind it, that bridge's
//      serial must be the one checked;
//   3. the unit is asked "ver\r" on the opened line and must answer with the model and the
//      version that were checked (or, for a unit sent a file to recover it, not answer again);
//   4. "pgm\r" and the bytes go out through the transfer's stall rule, and the line must have
//      drained before its settings are put back.
//
// Nothing is sent after "ver\r" unless every check passed.

#include "common/Outcome.h"
#include "device/SerialLine.h"
#include "device/UnitCommands.h"
#include "firmware/Compatibility.h"
#include "update/FirmwareTransfer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The largest file the guarded update holds in memory: firmware images are a few hundred KiB.
constexpr std::uint32_t kSessionFileLimit = 16u * 1024 * 1024;

// The file as it was checked.
struct CheckedFile {
    std::string path; // what the system's FirmwareFile opens
    std::uint32_t size = 0;
    std::string sha256; // lowercase hex
    HeaderFields fields;
};

// The unit as it was checked.
struct CheckedUnit {
    std::string device; // the port to open: "COM5", "/dev/ttyUSB0"
    std::string serial; // its bridge's serial as discovery reported it
    VersionReply reply; // what it answered then
    // false for a unit that did not answer at all, sent a file only by an explicit recovery
    // choice: on the opened port it must again not answer.
    bool answered = true;
};

enum class SessionError {
    None,
    FileOpen,     // the file cannot be opened
    FileRead,     // a read of the file failed
    FileTooLarge, // above kSessionFileLimit
    FileChanged,  // its bytes are not the ones checked (size or SHA-256)
    LineOpen,     // the port cannot be opened and configured (line holds why)
    OtherBridge,  // another bridge is behind the port (found holds its serial)
    NoAnswer,     // the unit did not answer "ver\r" on the opened line
    OtherUnit,    // it answered another model or version, or at all when it had not (answer)
    Transfer,     // "pgm\r" or the file was not taken, or did not drain (transfer holds why)
    Cancelled,    // the observer asked to stop
};

struct SessionResult {
    SessionError failed = SessionError::None;
    SystemError systemError = kNoSystemError;
    LineError line = LineError::None;             // for LineOpen
    TransferError transfer = TransferError::None; // for Transfer and Cancelled
    std::string foundSerial;                      // for OtherBridge
    VersionReply answer;                          // for OtherUnit
    std::uint32_t sent = 0;                       // bytes of the file the unit took
    std::string sha256;                           // of the bytes sent; "" before any was

    explicit operator bool() const { return failed == SessionError::None; }
};

// The serial of the bridge behind a port, as the system shows it now; nullopt when it cannot be
// told (the port is not among the bridges found).
using SerialOnPort = std::function<std::optional<std::string>(const std::string& device)>;

struct SessionOptions {
    TransferOptions transfer;
    std::uint32_t fileLimit = kSessionFileLimit;
    // Empty where the system shows no serials (the web page): the unit's answer decides alone.
    SerialOnPort serialOnPort;
    LineProbe* probe = nullptr; // follows the line's steps, for tests
};

// Runs the guarded update; the line is closed, its settings put back, whatever the end.
SessionResult RunUpdateSession(const CheckedFile& file, const CheckedUnit& unit,
                               TransferObserver& observer, const SessionOptions& options = {});
