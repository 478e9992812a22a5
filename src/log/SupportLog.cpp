#include "log/SupportLog.h"

#include "common/SystemError.h"

#include <cstdio>
#include <vector>

namespace {
constexpr const char* kAppDataSubfolder = "\\Orvane\\Update Utility";

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
} // namespace

SupportLog::SupportLog(std::string folder) : m_folder(std::move(folder)) {}

std::string SupportLog::DefaultFolder() {
    char base[3 * MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("LOCALAPPDATA", base, sizeof(base));
    if (length == 0 || length >= sizeof(base))
        return "";
    return std::string(base) + kAppDataSubfolder;
}

std::string SupportLog::Path() const {
    return m_folder + "\\" + kFileName;
}

bool SupportLog::CreateFolder() const {
    // Each missing level from the top down; a level that exists already is fine.
    for (size_t slash = m_folder.find('\\', 3); slash != std::string::npos;
         slash = m_folder.find('\\', slash + 1))
        ::CreateDirectoryA(m_folder.substr(0, slash).c_str(), nullptr);
    ::CreateDirectoryA(m_folder.c_str(), nullptr);
    return IsFolder(m_folder);
}

void SupportLog::RotateIfFull(size_t adding) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(Path().c_str(), GetFileExInfoStandard, &data))
        return;
    const unsigned long long size =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size + adding <= kRotateBytes)
        return;
    const std::string older = m_folder + "\\" + kOlderFileName;
    ::MoveFileExA(Path().c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool SupportLog::Write(const std::string& text) const {
    if (m_folder.empty() || !CreateFolder())
        return false;
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    const std::string line = IsoTime(now) + " " + text + "\r\n";
    RotateIfFull(line.size());
    // Opened for each line and shared, so a user can read or copy the log while the tool runs
    // and two running copies of the tool do not lock each other out.
    HANDLE file =
        ::CreateFileA(Path().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size();
    ::CloseHandle(file);
    return ok;
}

std::string SystemReason(DWORD error) {
    if (error == ERROR_SUCCESS)
        return "";
    const std::string words = SystemText(error);
    return "error " + std::to_string(error) + (words.empty() ? "" : ": " + words);
}

std::string IsoTime(const SYSTEMTIME& utc) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", utc.wYear, utc.wMonth,
                  utc.wDay, utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return text;
}

std::string FileVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return "";
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return "";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}
