#pragma once
// The serial line to one unit: a port opened without sharing, configured for the unit's
// protocol, with its own settings saved at open and put back at close.
//
// The rules live here and in SerialLine.cpp, written once: writes go out in pieces bounded by
// the stall limit, waits run a hook between slices, reads are bounded by silence, a drain is
// bounded like a write. Each system's file (SerialLineWin.cpp, SerialLinePosix.cpp) holds only
// the calls into the system: open and configure, one piece written, one read pass, the output
// queue measured or dropped, close. Nothing here shows anything; failures come back as the step
// that failed and the system's error code.

#include "common/Outcome.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

enum class LineError {
    None,
    Open,      // the port cannot be opened: no such port, no permission, or held by another program
    Purge,     // its queues cannot be emptied
    GetState,  // its settings cannot be read
    SetState,  // the unit's line cannot be set
    NotOpen,   // no port is open
    Write,     // the write failed (the unit went away, or the driver refused it)
    Stalled,   // the unit took too little data for the stall limit
    Cancelled, // the caller's wait hook asked to stop
    Read,      // the read failed, or no byte arrived for its limit
};
using LineResult = Outcome<LineError>;

// How long a write may wait while the unit takes no data. Generous, since equipment holds CTS
// off while it erases its flash; a unit that never takes the data fails instead of hanging.
constexpr std::uint32_t kWriteStallLimitMs = 30000;

// A write goes out in pieces of at most this many bytes, each bounded by the stall limit, so a
// unit that drains slowly but steadily completes and only one that stops taking data fails.
constexpr std::uint32_t kStallPieceBytes = 256;

// While a write waits for the unit, the wait hook runs about this often; it returns false to
// cancel the write at once. A window uses it to keep painting and to take a Cancel press.
constexpr std::uint32_t kWaitSliceMs = 20;
using WaitHook = std::function<bool()>;

// A read pass that returns at once with no byte waits this long before the next pass, so that
// an empty pass neither spins the processor nor ends the read early.
constexpr std::uint32_t kEmptyReadPauseMs = 10;

// After the line is set, and after it is closed, the bridge is given this long to settle.
constexpr std::uint32_t kPortSettleMs = 60;

struct LineSettings {
    std::uint32_t baudRate = 460800;
    bool hardwareFlowControl = true; // RTS/CTS
};

// The line's dealings with its port, in the order they happen.
enum class LineStep {
    Written,          // a write was taken whole
    Drained,          // the output queue was found empty
    Sent,             // the system reported every byte sent, its driver's buffers included
    SettingsRestored, // the settings found at open were put back
    Closed,           // the port was closed
};

// Follows a line's steps; a test passes one to the line to see their order. A pseudo-terminal
// has no output queue, so a probe may also report bytes that stay queued.
class LineProbe {
  public:
    virtual void Step(LineStep step) = 0;
    // The output queue as the system measured it; what the probe answers is what counts.
    virtual std::uint32_t Queued(std::uint32_t measured) { return measured; }
    // The bytes one write took (sent) or one read received on the port, for a trace.
    virtual void Carried(const std::string& /*port*/, bool /*sent*/, const std::uint8_t* /*bytes*/,
                         std::uint32_t /*count*/) {}

  protected:
    ~LineProbe() = default;
};

class SerialLine {
  public:
    // The system's port and the settings found at open; defined by each system's file, and in
    // SerialLineWin.h for Windows code that needs the handle.
    struct Native;

    // probe, when given, follows the line's steps for as long as the line lives.
    explicit SerialLine(LineProbe* probe = nullptr);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens the port by its system name ("COM5", "/dev/ttyUSB0") exclusively, empties both
    // queues, saves the port's settings and time-outs, applies the unit's line (with the
    // time-outs the bounded writes and reads need) and lets it settle. A port
    // already held is closed first; an empty name names no port. On failure whatever was opened
    // stays held until Close, so that settings changed before the failure are still put back.
    LineResult Open(const std::string& port, const LineSettings& settings = {});
    // Puts the saved settings back and closes the port, then pauses so that the bridge can
    // settle before it is opened again; the pause comes also when nothing was open. Output still
    // queued is not waited for: Drain first.
    void Close();
    bool IsOpen() const;

    // Writes all of count bytes. written, when given, receives what the unit took, also on
    // failure.
    LineResult WriteWithTimeout(const void* data, std::uint32_t count, std::uint32_t stallLimitMs,
                                const WaitHook& keepWaiting = {}, std::uint32_t* written = nullptr);
    // Reads exactly count bytes; fails once no byte has arrived for limitMs, however the system
    // splits the wait into passes. The bytes that did arrive stay in the buffer.
    LineResult ReadWithTimeout(void* buffer, std::uint32_t count, std::uint32_t limitMs);
    // Waits until what was written has left the port, not only reached the driver: fails once
    // the output queue has not shrunk for stallLimitMs (Stalled), and runs the hook as a write
    // does; then waits, bounded the same way, until the system reports everything sent. Output
    // that did not drain is dropped, so that none of it goes out after the line's settings are
    // put back. A port that cannot report its queue counts as drained.
    LineResult Drain(std::uint32_t stallLimitMs, const WaitHook& keepWaiting = {});

    Native& System() { return *m_native; }
    const Native& System() const { return *m_native; }

  private:
    // The calls into the system, one file per system.
    LineResult OpenPort(const std::string& port, const LineSettings& settings);
    // Writes one piece, waiting for the unit at most stallLimitMs without progress and running
    // the hook between slices; moved receives what was taken.
    LineResult WritePiece(const std::uint8_t* data, std::uint32_t size, std::uint32_t& moved,
                          std::uint32_t stallLimitMs, const WaitHook& keepWaiting);
    // One read pass: waits at most limitMs for the first byte and takes what has arrived.
    LineResult ReadPass(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got,
                        std::uint32_t limitMs);
    // The read's passes until count bytes have come to position (moved on past them) or none has
    // for limitMs.
    LineResult ReadUntil(std::uint8_t*& position, std::uint32_t count, std::uint32_t limitMs);
    // The bytes written but not yet sent.
    LineResult QueuedOutput(std::uint32_t& bytes);
    // Once the queue is empty: waits until the system reports every byte sent, buffers it does
    // not count in the queue included (a USB bridge's own), at most stallLimitMs and running the
    // hook as a write does.
    LineResult WaitUntilSent(std::uint32_t stallLimitMs, const WaitHook& keepWaiting);
    // Throws away what is still queued for output.
    void DiscardOutput();
    void Release();

    void Note(LineStep step) {
        if (m_probe)
            m_probe->Step(step);
    }

    std::unique_ptr<Native> m_native;
    LineProbe* m_probe;
    std::string m_port; // as opened, for the probe
};

// How a bounded wait ended, and how one slice of it did.
enum class Wait { Completed, TimedOut, Cancelled, Failed };
enum class WaitStep { Ready, NotYet, Failed };

// Calls waitOnce with slices of at most kWaitSliceMs (the whole limit when there is no hook)
// until it reports the operation ready or failed, the limit passes, or the hook asks to stop.
Wait WaitInSlices(std::uint32_t limitMs, const WaitHook& keepWaiting,
                  const std::function<WaitStep(std::uint32_t sliceMs)>& waitOnce);
