#include "common/SystemError.h"

#include <windows.h>

const SystemError kErrorTimeout = ERROR_TIMEOUT;
const SystemError kErrorCancelled = ERROR_CANCELLED;
const SystemError kErrorNotOpen = ERROR_INVALID_HANDLE;
const SystemError kErrorShortWrite = ERROR_WRITE_FAULT;
const SystemError kErrorEndOfFile = ERROR_HANDLE_EOF;
const SystemError kErrorTooLarge = ERROR_FILE_TOO_LARGE;
const SystemError kErrorNoSuchPort = ERROR_FILE_NOT_FOUND;
const SystemError kErrorRemoved = ERROR_DEVICE_REMOVED;
const SystemError kErrorNoSuchFile = ERROR_FILE_NOT_FOUND;
const SystemError kErrorNoSuchPath = ERROR_PATH_NOT_FOUND;

SystemError LastSystemError() {
    return ::GetLastError();
}

std::string SystemText(SystemError error) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = length && text ? std::string(text, length) : std::string();
    if (text)
        ::LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
        words.pop_back();
    return words;
}

bool IsPermissionDenied(SystemError) {
    return false;
}
