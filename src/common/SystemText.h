#pragma once
// The system's own words for a Win32 error code, for the faces that show or record them.

#include <windows.h>

#include <string>

// FormatMessageA's text for the code, without its line end; "" when the system has none.
inline std::string SystemText(DWORD error) {
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
