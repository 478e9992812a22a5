#include "support/TempFile.h"

#include <windows.h>

#include <atomic>

namespace {
std::atomic<int> g_counter{0};
}

TempFile::TempFile(const std::string& contents, const char* extension) {
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    m_path = std::string(folder) + "orvane-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
             std::to_string(g_counter++) + extension;
    Write(contents);
}

TempFile::~TempFile() {
    ::DeleteFileA(m_path.c_str());
}

void TempFile::Write(const std::string& contents) const {
    HANDLE file = ::CreateFileA(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (!contents.empty())
        ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string contents;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        contents.append(buffer, read);
    ::CloseHandle(file);
    return contents;
}
