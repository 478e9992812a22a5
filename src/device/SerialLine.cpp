#include "device/SerialLine.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr DWORD kPortSettleMs = 60;

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

enum class Wait { Completed, TimedOut, Cancelled, Failed };

// Waits for a pending operation up to the limit, running the hook between slices. When the
// wait gives up the operation is cancelled and waited for, so the system no longer touches the
// record or the buffer; an operation that completed after all still counts as completed.
Wait FinishPending(HANDLE port, OverlappedCall& call, DWORD limitMs, const WaitHook& keepWaiting,
                   DWORD* transferred, DWORD* error) {
    *transferred = 0;
    *error = ERROR_SUCCESS;
    Wait outcome = Wait::TimedOut;
    if (!call.overlapped.hEvent) {
        outcome = Wait::Failed;
        *error = ERROR_INVALID_HANDLE;
    } else {
        const DWORD start = ::GetTickCount();
        for (;;) {
            const DWORD elapsed = ::GetTickCount() - start;
            if (elapsed >= limitMs)
                break;
            const DWORD slice =
                keepWaiting ? std::min(limitMs - elapsed, kWaitSliceMs) : limitMs - elapsed;
            const DWORD wait = ::WaitForSingleObject(call.overlapped.hEvent, slice);
            if (wait == WAIT_OBJECT_0) {
                if (::GetOverlappedResult(port, &call.overlapped, transferred, FALSE))
                    return Wait::Completed;
                *error = ::GetLastError();
                return Wait::Failed;
            }
            if (wait != WAIT_TIMEOUT) {
                *error = ::GetLastError();
                outcome = Wait::Failed;
                break;
            }
            if (keepWaiting && !keepWaiting()) {
                outcome = Wait::Cancelled;
                break;
            }
        }
    }
    ::CancelIoEx(port, &call.overlapped);
    if (::GetOverlappedResult(port, &call.overlapped, transferred, TRUE))
        return Wait::Completed;
    return outcome;
}
} // namespace

LineResult WriteWithTimeout(HANDLE port, const void* data, DWORD count, DWORD* written,
                            DWORD stallLimitMs, const WaitHook& keepWaiting) {
    *written = 0;
    if (port == INVALID_HANDLE_VALUE)
        return LineResult::Failure(LineError::NotOpen, ERROR_INVALID_HANDLE);
    OverlappedCall call;
    const BYTE* next = static_cast<const BYTE*>(data);
    while (*written < count) {
        const DWORD piece = std::min(count - *written, kStallPieceBytes);
        DWORD moved = 0;
        if (!::WriteFile(port, next, piece, &moved, &call.overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING)
                return LineResult::Failure(LineError::Write, error);
            DWORD waitError = ERROR_SUCCESS;
            switch (FinishPending(port, call, stallLimitMs, keepWaiting, &moved, &waitError)) {
            case Wait::Completed:
                break;
            case Wait::TimedOut:
                *written += moved;
                return LineResult::Failure(LineError::Stalled, ERROR_TIMEOUT);
            case Wait::Cancelled:
                *written += moved;
                return LineResult::Failure(LineError::Cancelled, ERROR_CANCELLED);
            case Wait::Failed:
                *written += moved;
                return LineResult::Failure(LineError::Write, waitError);
            }
        }
        *written += moved;
        next += moved;
        // A piece the driver took only in part is a failed write, as on any short write.
        if (moved != piece)
            return LineResult::Failure(LineError::Write, ERROR_WRITE_FAULT);
    }
    return LineResult::Success();
}

LineResult ReadWithTimeout(HANDLE port, void* buffer, DWORD count, DWORD limitMs) {
    if (port == INVALID_HANDLE_VALUE)
        return LineResult::Failure(LineError::NotOpen, ERROR_INVALID_HANDLE);
    OverlappedCall call;
    BYTE* position = static_cast<BYTE*>(buffer);
    DWORD remaining = count;
    // The limit runs from the last byte received: the read fails once no byte has arrived for
    // that long, however the driver splits the wait into passes.
    DWORD lastProgress = ::GetTickCount();
    while (remaining > 0) {
        const DWORD elapsed = ::GetTickCount() - lastProgress;
        if (elapsed >= limitMs)
            return LineResult::Failure(LineError::Read, ERROR_TIMEOUT);
        DWORD passCount = 0;
        DWORD error = ERROR_SUCCESS;
        bool passOk;
        if (::ReadFile(port, position, remaining, &passCount, &call.overlapped)) {
            passOk = true;
        } else if ((error = ::GetLastError()) == ERROR_IO_PENDING) {
            // A pass that waited out its limit fails, whatever part of the reply it brought.
            const Wait wait = FinishPending(port, call, limitMs - elapsed, {}, &passCount, &error);
            passOk = wait == Wait::Completed;
            if (wait == Wait::TimedOut)
                error = ERROR_TIMEOUT;
        } else {
            passOk = false;
        }
        passCount = std::min(passCount, remaining);
        remaining -= passCount;
        position += passCount;
        if (remaining == 0)
            break;
        if (!passOk)
            return LineResult::Failure(LineError::Read, error);
        if (passCount > 0)
            lastProgress = ::GetTickCount();
        else
            ::Sleep(kEmptyReadPauseMs);
    }
    return LineResult::Success();
}

SerialLine::~SerialLine() {
    Release();
}

LineResult SerialLine::Open(int port, const LineSettings& settings) {
    Release();
    // Ports 128 to 255 are real ports: the number is never taken as a signed byte.
    if (port < 0 || port > 255)
        return LineResult::Failure(LineError::Open, ERROR_FILE_NOT_FOUND);
    char path[32];
    std::snprintf(path, sizeof(path), "\\\\.\\COM%d", port);
    m_port = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_port == INVALID_HANDLE_VALUE)
        return LineResult::Failure(LineError::Open);
    if (!::PurgeComm(m_port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return LineResult::Failure(LineError::Purge);
    DCB found{};
    found.DCBlength = sizeof(found);
    if (!::GetCommState(m_port, &found))
        return LineResult::Failure(LineError::GetState);
    m_saved = found;

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
    if (!::SetCommState(m_port, &line))
        return LineResult::Failure(LineError::SetState);
    ::Sleep(kPortSettleMs);
    return LineResult::Success();
}

void SerialLine::Close() {
    Release();
    ::Sleep(kPortSettleMs);
}

void SerialLine::Release() {
    if (m_saved.DCBlength != 0) {
        ::SetCommState(m_port, &m_saved);
        m_saved.DCBlength = 0;
    }
    if (m_port != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_port);
        m_port = INVALID_HANDLE_VALUE;
    }
}
