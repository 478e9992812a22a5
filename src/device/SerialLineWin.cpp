// The line on Windows: a COM port opened for overlapped I/O, configured through its DCB. Every
// operation has a private event, and a wait that gives up cancels its own operation and waits
// for the cancel to finish, so nothing the system still holds is freed.
#include "device/SerialLineWin.h"

namespace {

// One overlapped operation's record and its private auto-reset event.
struct OverlappedCall {
    OVERLAPPED overlapped{};
    OverlappedCall() { overlapped.hEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr); }
    ~OverlappedCall() {
        if (overlapped.hEvent)
            ::CloseHandle(overlapped.hEvent);
    }
    OverlappedCall(const OverlappedCall&) = delete;
    OverlappedCall& operator=(const OverlappedCall&) = delete;
};

// Waits for a pending operation up to the limit, running the hook between slices. When the
// wait gives up the operation is cancelled and waited for, so the system no longer touches the
// record or the buffer; an operation that completed after all still counts as completed.
Wait FinishPending(HANDLE port, OverlappedCall& call, std::uint32_t limitMs,
                   const WaitHook& keepWaiting, DWORD* transferred, DWORD* error) {
    *transferred = 0;
    *error = ERROR_SUCCESS;
    Wait outcome = Wait::Failed;
    if (!call.overlapped.hEvent) {
        *error = ERROR_INVALID_HANDLE;
    } else {
        outcome = WaitInSlices(limitMs, keepWaiting, [&](std::uint32_t sliceMs) {
            const DWORD wait = ::WaitForSingleObject(call.overlapped.hEvent, sliceMs);
            if (wait == WAIT_OBJECT_0)
                return WaitStep::Ready;
            if (wait == WAIT_TIMEOUT)
                return WaitStep::NotYet;
            *error = ::GetLastError();
            return WaitStep::Failed;
        });
        if (outcome == Wait::Completed) {
            if (::GetOverlappedResult(port, &call.overlapped, transferred, FALSE))
                return Wait::Completed;
            *error = ::GetLastError();
            return Wait::Failed;
        }
    }
    ::CancelIoEx(port, &call.overlapped);
    if (::GetOverlappedResult(port, &call.overlapped, transferred, TRUE))
        return Wait::Completed;
    return outcome;
}

} // namespace

SerialLine::SerialLine(LineProbe* probe) : m_native(std::make_unique<Native>()), m_probe(probe) {}

SerialLine::~SerialLine() {
    Release();
}

bool SerialLine::IsOpen() const {
    return m_native->port != INVALID_HANDLE_VALUE;
}

LineResult SerialLine::OpenPort(const std::string& port, const LineSettings& settings) {
    Native& native = *m_native;
    const std::string path = "\\\\.\\" + port;
    native.port =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (native.port == INVALID_HANDLE_VALUE)
        return LineResult::Failure(LineError::Open);
    if (!::PurgeComm(native.port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return LineResult::Failure(LineError::Purge);
    DCB found{};
    found.DCBlength = sizeof(found);
    if (!::GetCommState(native.port, &found))
        return LineResult::Failure(LineError::GetState);
    native.saved = found;

    DCB line = found;
    line.BaudRate = settings.baudRate;
    line.fOutxCtsFlow = settings.hardwareFlowControl ? 1 : 0;
    line.fRtsControl = settings.hardwareFlowControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    // The unit's traffic is binary. Every field that another program may have left on and that
    // would drop, stop or alter bytes is set here rather than inherited:
    line.fBinary = TRUE;                   // Windows has no other mode; some drivers check it
    line.fOutX = FALSE;                    // 0x13 from the unit would stop our output
    line.fInX = FALSE;                     // 0x11 and 0x13 would be taken out of the replies
    line.fTXContinueOnXoff = TRUE;         // no XOFF of our own may hold our output either
    line.fNull = FALSE;                    // a version byte of 0 would be thrown away
    line.fErrorChar = FALSE;               // bytes with a parity error would be replaced
    line.fParity = FALSE;                  // no parity checking on an 8N1 line
    line.fAbortOnError = FALSE;            // one framing error would fail every later I/O
    line.fOutxDsrFlow = FALSE;             // bridges may not drive DSR: output would never start
    line.fDsrSensitivity = FALSE;          // bytes would be dropped while DSR is low
    line.fDtrControl = DTR_CONTROL_ENABLE; // a unit that watches DTR sees a host present
    if (!::SetCommState(native.port, &line))
        return LineResult::Failure(LineError::SetState);

    // The time-outs are the port's too, and another program may have left a write time-out
    // that would end a piece while the unit holds CTS. Writes get none: the stall limit bounds
    // them. A read pass returns at once with what has arrived: the read's own limit bounds it.
    COMMTIMEOUTS foundTimeouts{};
    if (!::GetCommTimeouts(native.port, &foundTimeouts))
        return LineResult::Failure(LineError::GetState);
    native.savedTimeouts = foundTimeouts;
    native.hasSavedTimeouts = true;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(native.port, &timeouts))
        return LineResult::Failure(LineError::SetState);
    return LineResult::Success();
}

LineResult SerialLine::WritePiece(const std::uint8_t* data, std::uint32_t size,
                                  std::uint32_t& moved, std::uint32_t stallLimitMs,
                                  const WaitHook& keepWaiting) {
    const HANDLE port = m_native->port;
    OverlappedCall call;
    DWORD taken = 0;
    if (!::WriteFile(port, data, size, &taken, &call.overlapped)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING)
            return LineResult::Failure(LineError::Write, error);
        DWORD waitError = ERROR_SUCCESS;
        const Wait wait = FinishPending(port, call, stallLimitMs, keepWaiting, &taken, &waitError);
        moved = taken;
        switch (wait) {
        case Wait::Completed:
            break;
        case Wait::TimedOut:
            return LineResult::Failure(LineError::Stalled, kErrorTimeout);
        case Wait::Cancelled:
            return LineResult::Failure(LineError::Cancelled, kErrorCancelled);
        case Wait::Failed:
            return LineResult::Failure(LineError::Write, waitError);
        }
    }
    moved = taken;
    return LineResult::Success();
}

LineResult SerialLine::ReadPass(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got,
                                std::uint32_t limitMs) {
    const HANDLE port = m_native->port;
    OverlappedCall call;
    DWORD passCount = 0;
    DWORD error = ERROR_SUCCESS;
    bool passOk;
    if (::ReadFile(port, buffer, size, &passCount, &call.overlapped)) {
        passOk = true;
    } else if ((error = ::GetLastError()) == ERROR_IO_PENDING) {
        // A pass that waited out its limit fails, whatever part of the reply it brought.
        const Wait wait = FinishPending(port, call, limitMs, {}, &passCount, &error);
        passOk = wait == Wait::Completed;
        if (wait == Wait::TimedOut)
            error = kErrorTimeout;
    } else {
        passOk = false;
    }
    got = passCount;
    return passOk ? LineResult::Success() : LineResult::Failure(LineError::Read, error);
}

LineResult SerialLine::QueuedOutput(std::uint32_t& bytes) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(m_native->port, &errors, &status))
        return LineResult::Failure(LineError::Write);
    bytes = status.cbOutQue;
    return LineResult::Success();
}

LineResult SerialLine::WaitUntilSent(std::uint32_t, const WaitHook&) {
    // The driver's output queue, which Drain has seen empty, holds everything it has not sent.
    return LineResult::Success();
}

void SerialLine::DiscardOutput() {
    ::PurgeComm(m_native->port, PURGE_TXABORT | PURGE_TXCLEAR);
}

void SerialLine::Release() {
    Native& native = *m_native;
    const bool restoring = native.saved.DCBlength != 0 || native.hasSavedTimeouts;
    if (native.saved.DCBlength != 0) {
        ::SetCommState(native.port, &native.saved);
        native.saved.DCBlength = 0;
    }
    if (native.hasSavedTimeouts) {
        ::SetCommTimeouts(native.port, &native.savedTimeouts);
        native.hasSavedTimeouts = false;
    }
    if (restoring)
        Note(LineStep::SettingsRestored);
    if (native.port != INVALID_HANDLE_VALUE) {
        ::CloseHandle(native.port);
        native.port = INVALID_HANDLE_VALUE;
        Note(LineStep::Closed);
    }
}
