// The record's file on Windows: opened to append (FILE_APPEND_DATA, no FILE_WRITE_DATA) and
// written with one WriteFile, which Windows appends whole. Wine finds the end and writes in two
// steps, so appenders also take turns through a byte-range lock far beyond the data (readers are
// not held up). A new file is made with CREATE_NEW (one program wins) and shared with readers
// only until its header and first row are in, so another program finds it either whole or held,
// and waits a moment. (MoveFileEx without replacing would not do: Wine checks and renames in
// two steps.)
#include "cli/BenchRecord.h"

#include "common/Clock.h"
#include "common/SystemError.h"

#include <windows.h>

namespace {

// How long a file held by its maker, by another appender, or by a program that reads it
// without sharing, is waited for.
constexpr int kHeldAttempts = 100;
constexpr std::uint32_t kHeldPauseMs = 20;
// The byte the appenders lock: never part of the data.
constexpr DWORD kTurnOffsetHigh = 0x40000000;

bool WriteAll(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// Reading too, which the lock needs.
HANDLE Open(const std::string& path, DWORD sharing, DWORD disposition) {
    return ::CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, sharing, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The appenders' turn; false (with the system's error) when another keeps it too long.
bool TakeTurn(HANDLE file, OVERLAPPED& turn) {
    turn = {};
    turn.OffsetHigh = kTurnOffsetHigh;
    for (int attempt = 0; attempt < kHeldAttempts; ++attempt) {
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn))
            return true;
        if (::GetLastError() != ERROR_LOCK_VIOLATION && ::GetLastError() != ERROR_IO_PENDING)
            return false;
        PauseMs(kHeldPauseMs);
    }
    ::SetLastError(ERROR_LOCK_VIOLATION);
    return false;
}

} // namespace

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(name);
    return ::GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

bool AppendToRecordFile(const std::string& path, const std::string& header, const std::string& row,
                        std::string& error) {
    for (int attempt = 0; attempt < kHeldAttempts; ++attempt) {
        std::string text = row;
        bool created = false;
        HANDLE file =
            Open(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
            text = header + row;
            file = Open(path, FILE_SHARE_READ, CREATE_NEW);
            created = true;
        }
        if (file != INVALID_HANDLE_VALUE) {
            OVERLAPPED turn;
            const bool turnTaken = created || TakeTurn(file, turn);
            const bool written = turnTaken && WriteAll(file, text);
            if (!written)
                error = "cannot append to \"" + path + "\": " + SystemErrorText(LastSystemError());
            if (turnTaken && !created)
                ::UnlockFileEx(file, 0, 1, 0, &turn);
            ::CloseHandle(file);
            return written;
        }
        const DWORD failure = ::GetLastError();
        if (failure != ERROR_SHARING_VIOLATION && failure != ERROR_FILE_EXISTS &&
            failure != ERROR_ALREADY_EXISTS) {
            error = "cannot open \"" + path + "\": " + SystemErrorText(failure);
            return false;
        }
        PauseMs(kHeldPauseMs);
    }
    error = "cannot open \"" + path + "\": " + SystemErrorText(ERROR_SHARING_VIOLATION);
    return false;
}

bool RecordFileWritable(const std::string& path, std::string& error) {
    HANDLE file = Open(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return true;
    }
    // Held by another appender or its maker: it can be appended to once it is let go.
    if (::GetLastError() == ERROR_SHARING_VIOLATION)
        return true;
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
        error = "cannot open \"" + path + "\": " + SystemErrorText(LastSystemError());
        return false;
    }
    // A file beside it, deleted again at once, proves that the folder takes a new file.
    const std::string probe = path + ".probe-" + std::to_string(::GetCurrentProcessId());
    file = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot write beside \"" + path + "\": " + SystemErrorText(LastSystemError());
        return false;
    }
    ::CloseHandle(file);
    return true;
}
