#include "support/TempFile.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> g_counter{0};

// A name in the temporary folder that no other test uses.
std::string FreshName(const char* extension) {
    char folder[3 * MAX_PATH] = {};
    ::GetTempPathA(sizeof(folder), folder);
    return std::string(folder) + "orvane-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(g_counter++) + extension;
}

void WriteWholeFile(const std::string& path, const std::string& contents) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (!contents.empty())
        ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    ::CloseHandle(file);
}
} // namespace

TempFile::TempFile(const std::string& contents, const char* extension)
    : m_path(FreshName(extension)) {
    Write(contents);
}

TempFile::~TempFile() {
    ::DeleteFileA(m_path.c_str());
}

void TempFile::Write(const std::string& contents) const {
    WriteWholeFile(m_path, contents);
}

TempFolder::TempFolder(const std::string& levels) {
    std::string path = FreshName("");
    size_t start = 0;
    for (;;) {
        if (!::CreateDirectoryA(path.c_str(), nullptr))
            return;
        m_levels.push_back(path);
        if (start >= levels.size())
            break;
        const size_t end = std::min(levels.find('\\', start), levels.size());
        path += "\\" + levels.substr(start, end - start);
        start = end + 1;
    }
    m_path = path;
}

TempFolder::~TempFolder() {
    for (const std::string& file : m_files)
        ::DeleteFileA(file.c_str());
    for (auto level = m_levels.rbegin(); level != m_levels.rend(); ++level)
        ::RemoveDirectoryA(level->c_str());
}

std::string TempFolder::Add(const std::string& name, const std::string& contents) {
    const std::string path = m_path + "\\" + name;
    WriteWholeFile(path, contents);
    m_files.push_back(path);
    return path;
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
