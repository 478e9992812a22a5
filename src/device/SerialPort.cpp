// The Master COM port: open and configure, restore and close, bounded overlapped I/O.
#include "device/SerialPort.h"
#include "update/UpdateUtilityDlg.h"

#include <cstdio>

DWORD g_writeStallLimitMs = kWriteStallLimitMs;

namespace {
constexpr DWORD kPortSettleMs = 60;

// One overlapped operation's record and its private event.
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

// Waits for a pending operation up to the limit. When the wait gives up, the operation is
// cancelled and waited for, so the system no longer touches the record or the buffer; an
// operation that completed after all still counts. Returns whether it completed, with the
// bytes it moved.
bool FinishPending(HANDLE port, OverlappedCall& call, DWORD limitMs, DWORD* transferred) {
    *transferred = 0;
    const DWORD wait = call.overlapped.hEvent
                           ? ::WaitForSingleObject(call.overlapped.hEvent, limitMs)
                           : WAIT_FAILED;
    if (wait == WAIT_OBJECT_0)
        return ::GetOverlappedResult(port, &call.overlapped, transferred, FALSE) != FALSE;
    ::CancelIoEx(port, &call.overlapped);
    const BOOL completed = ::GetOverlappedResult(port, &call.overlapped, transferred, TRUE);
    return completed && *transferred > 0;
}
} // namespace

BOOL CUpdateUtilityDlg::OpenMasterPort(signed char port) {
    char path[32];
    std::snprintf(path, sizeof(path), "\\\\.\\COM%d", static_cast<int>(port));
    m_hComPort = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hComPort == INVALID_HANDLE_VALUE) {
        ReportError("Error opening Master COM port");
        return FALSE;
    }
    if (!::PurgeComm(m_hComPort, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        ReportError("Error purging Master COM port");
        return FALSE;
    }
    DCB found{};
    found.DCBlength = sizeof(found);
    if (!::GetCommState(m_hComPort, &found)) {
        ReportError("Error getting Master COM port state");
        return FALSE;
    }
    m_savedDcb = found;
    DCB line = m_savedDcb;
    line.BaudRate = m_baudRate;
    line.fOutxCtsFlow = m_hardwareFlowControl ? 1 : 0;
    line.fRtsControl = m_hardwareFlowControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    if (!::SetCommState(m_hComPort, &line)) {
        ReportError("Error setting Master COM port state");
        return FALSE;
    }
    ::Sleep(kPortSettleMs);
    return TRUE;
}

void CUpdateUtilityDlg::CloseMasterPort() {
    if (m_savedDcb.DCBlength != 0) {
        ::SetCommState(m_hComPort, &m_savedDcb);
        m_savedDcb.DCBlength = 0;
    }
    if (m_hComPort != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_hComPort);
        m_hComPort = INVALID_HANDLE_VALUE;
    }
    ::Sleep(kPortSettleMs);
}

BOOL CUpdateUtilityDlg::WriteWithTimeout(HANDLE port, const void* data, DWORD count, DWORD* written,
                                         DWORD limitMs) {
    *written = 0;
    if (port == INVALID_HANDLE_VALUE)
        return FALSE;
    OverlappedCall call;
    bool done;
    if (::WriteFile(port, data, count, written, &call.overlapped))
        done = true;
    else if (::GetLastError() == ERROR_IO_PENDING)
        done = FinishPending(port, call, limitMs, written);
    else
        done = false;
    // A short write is a failed write.
    return done && *written == count;
}

BOOL CUpdateUtilityDlg::ReadWithTimeout(HANDLE port, void* buffer, DWORD count, DWORD limitMs) {
    if (port == INVALID_HANDLE_VALUE)
        return FALSE;
    OverlappedCall call;
    BYTE* position = static_cast<BYTE*>(buffer);
    DWORD remaining = count;
    // The limit runs from the last byte received: the read fails once no byte has arrived for
    // that long, however the driver splits the wait into passes.
    DWORD lastProgress = ::GetTickCount();
    while (remaining > 0) {
        const DWORD elapsed = ::GetTickCount() - lastProgress;
        if (elapsed >= limitMs)
            return FALSE;
        DWORD passCount = 0;
        bool passOk;
        if (::ReadFile(port, position, remaining, &passCount, &call.overlapped))
            passOk = true;
        else if (::GetLastError() == ERROR_IO_PENDING)
            passOk = FinishPending(port, call, limitMs - elapsed, &passCount);
        else
            passOk = false;
        if (passCount > remaining)
            passCount = remaining;
        remaining -= passCount;
        position += passCount;
        if (remaining == 0)
            return TRUE;
        if (!passOk)
            return FALSE;
        if (passCount > 0)
            lastProgress = ::GetTickCount();
        else
            ::Sleep(kEmptyReadPauseMs);
    }
    return TRUE;
}
