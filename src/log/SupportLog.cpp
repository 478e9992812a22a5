#include "log/SupportLog.h"

#include "common/SystemError.h"
#include "text/TerminalText.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {
constexpr const char* kAppDataSubfolder = "\\Orvane\\Update Utility";

// How long a line waits for another copy of the tool to finish its own line. After that it is
// appended all the same, but never rotates the log: it could move away a file the other copy
// has only just begun.
constexpr DWORD kLockWaitMs = 2000;

// The lock the copies of the tool in this session take around each line of one log, named after
// the log's path (letters folded, as the file system folds them).
class LogLock {
  public:
    explicit LogLock(const std::string& path) {
        std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
        for (const char c : path) {
            const auto byte = static_cast<unsigned char>(c);
            hash ^= byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte;
            hash *= 1099511628211ULL;
        }
        char name[64];
        std::snprintf(name, sizeof(name), "Local\\OrvaneUpdateUtility.Log.%016llX",
                      static_cast<unsigned long long>(hash));
        m_mutex = ::CreateMutexA(nullptr, FALSE, name);
        if (m_mutex) {
            // An abandoned lock (a copy that ended while writing) is ours all the same.
            const DWORD wait = ::WaitForSingleObject(m_mutex, kLockWaitMs);
            m_held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    ~LogLock() {
        if (m_held)
            ::ReleaseMutex(m_mutex);
        if (m_mutex)
            ::CloseHandle(m_mutex);
    }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;
    bool Held() const { return m_held; }

  private:
    HANDLE m_mutex = nullptr;
    bool m_held = false;
};

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
    if (::MoveFileExA(Path().c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    // A reader that holds the log without allowing it to be renamed keeps the name where it is;
    // the lines move instead. Nothing is lost: a failed copy leaves the log as it was.
    if (!::CopyFileA(Path().c_str(), older.c_str(), FALSE))
        return;
    HANDLE file = ::CreateFileA(Path().c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
}

bool SupportLog::Write(const std::string& text) const {
    if (m_folder.empty() || !CreateFolder())
        return false;
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    const std::string line = IsoTime(now) + " " + EscapedControls(text) + "\r\n";
    // The size is measured, the log rotated and the line appended as one step, so that two
    // copies never both rotate one full log (the second would move the first one's new, short
    // log over the older file).
    const LogLock lock(Path());
    if (lock.Held())
        RotateIfFull(line.size());
    // Opened for each line and shared, deletion included, so a user can read or copy the log
    // while the tool runs, and neither copy of the tool keeps the other from rotating it.
    HANDLE file = ::CreateFileA(Path().c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
