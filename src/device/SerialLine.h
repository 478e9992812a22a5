#pragma once
// The serial line to one unit: a COM port opened without sharing, configured for the unit's
// protocol, with its own settings saved at open and put back at close.
//
// All I/O is overlapped with a private event per call, and every wait is bounded: a write by
// the stall limit (the unit takes no data for that long), a read by the time since its last
// byte. A wait that gives up cancels its own operation and waits for the cancel to finish, so
// nothing the system still holds is freed. Nothing here shows anything; failures come back as
// the step that failed and the system's error code.

#include "common/Outcome.h"

#include <windows.h>

#include <functional>

enum class LineError {
    None,
    Open,      // CreateFile of \\.\COMn failed
    Purge,     // PurgeComm failed
    GetState,  // GetCommState failed
    SetState,  // SetCommState failed
    NotOpen,   // no port handle
    Write,     // the write failed (the unit went away, or the driver refused it)
    Stalled,   // the unit took too little data for the stall limit
    Cancelled, // the caller's wait hook asked to stop
    Read,      // the read failed, or no byte arrived for its limit
};
using LineResult = Outcome<LineError>;

// How long a write may wait while the unit takes no data. Generous, since equipment holds CTS
// off while it erases its flash; a unit that never takes the data fails instead of hanging.
constexpr DWORD kWriteStallLimitMs = 30000;

// A write goes out in pieces of at most this many bytes, each bounded by the stall limit, so a
// unit that drains slowly but steadily completes and only one that stops taking data fails.
constexpr DWORD kStallPieceBytes = 256;

// While a write waits for the unit, the wait hook runs about this often; it returns false to
// cancel the write at once. A window uses it to keep painting and to take a Cancel press.
constexpr DWORD kWaitSliceMs = 20;
using WaitHook = std::function<bool()>;

// A read pass that returns at once with no byte waits this long before the next pass, so that
// an empty pass neither spins the processor nor ends the read early.
constexpr DWORD kEmptyReadPauseMs = 10;

struct LineSettings {
    DWORD baudRate = 460800;
    bool hardwareFlowControl = true; // RTS/CTS
};

// Writes all of count bytes to an overlapped port handle. written receives what the unit took,
// also on failure. INVALID_HANDLE_VALUE fails at once with NotOpen.
LineResult WriteWithTimeout(HANDLE port, const void* data, DWORD count, DWORD* written,
                            DWORD stallLimitMs, const WaitHook& keepWaiting = {});

// Reads exactly count bytes; fails once no byte has arrived for limitMs, however the driver
// splits the wait into passes. The bytes that did arrive stay in the buffer.
LineResult ReadWithTimeout(HANDLE port, void* buffer, DWORD count, DWORD limitMs);

class SerialLine {
  public:
    SerialLine() = default;
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens \\.\COMn (n from 0 to 255) exclusively, empties both driver queues, saves the
    // port's settings, applies the unit's line and lets it settle. A port already held is
    // closed first. On failure whatever was opened stays held until Close, so that settings
    // changed before the failure are still put back.
    LineResult Open(int port, const LineSettings& settings = {});
    // Puts the saved settings back and closes the port, then pauses so that the bridge can
    // settle before it is opened again; the pause comes also when nothing was open.
    void Close();

    bool IsOpen() const { return m_port != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return m_port; }
    // The settings found at open; DCBlength 0 when nothing is saved.
    const DCB& SavedSettings() const { return m_saved; }

    LineResult Write(const void* data, DWORD count, DWORD stallLimitMs,
                     const WaitHook& keepWaiting = {}) {
        DWORD written = 0;
        return WriteWithTimeout(m_port, data, count, &written, stallLimitMs, keepWaiting);
    }
    LineResult Read(void* buffer, DWORD count, DWORD limitMs) {
        return ReadWithTimeout(m_port, buffer, count, limitMs);
    }

  private:
    void Release();

    HANDLE m_port = INVALID_HANDLE_VALUE;
    DCB m_saved{};
};
