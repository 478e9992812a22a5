// The record's file on Windows: a new file is written aside and moved into place without
// replacing (the move fails when the name exists, also on a share), an existing one is opened
// with FILE_APPEND_DATA only and written with one WriteFile, which Windows appends whole.
#include "cli/BenchRecord.h"

#include "common/SystemError.h"

#include <windows.h>

namespace {

std::string Failure(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + SystemErrorText(LastSystemError());
}

bool WriteAll(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// Makes the file with header and row in it; false with created false when it exists already.
bool Create(const std::string& path, const std::string& text, bool& created, std::string& error) {
    created = false;
    const std::string aside = path + "." + std::to_string(::GetCurrentProcessId()) + "." +
                              std::to_string(::GetCurrentThreadId()) + ".tmp";
    const HANDLE file = ::CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Failure("cannot write beside", path);
        return false;
    }
    const bool written = WriteAll(file, text);
    if (!written)
        error = Failure("cannot write", aside);
    ::CloseHandle(file);
    if (written && ::MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        created = true;
        return true;
    }
    const DWORD moveError = ::GetLastError();
    ::DeleteFileA(aside.c_str());
    if (written && moveError != ERROR_ALREADY_EXISTS && moveError != ERROR_FILE_EXISTS) {
        ::SetLastError(moveError);
        error = Failure("cannot make", path);
    }
    return written && error.empty();
}

} // namespace

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(name);
    return ::GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

bool AppendToRecordFile(const std::string& path, const std::string& header, const std::string& row,
                        std::string& error) {
    const HANDLE file =
        ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        bool created = false;
        if (!Create(path, header + row, created, error))
            return false;
        if (created)
            return true;
        // Another program made it meanwhile: append to its file.
        return AppendToRecordFile(path, header, row, error);
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = Failure("cannot open", path);
        return false;
    }
    const bool written = WriteAll(file, row);
    if (!written)
        error = Failure("cannot append to", path);
    ::CloseHandle(file);
    return written;
}
