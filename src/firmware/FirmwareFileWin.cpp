#include "firmware/FirmwareFileWin.h"

FirmwareFile::FirmwareFile() : m_native(std::make_unique<Native>()) {}

FirmwareFile::~FirmwareFile() {
    Close();
}

bool FirmwareFile::IsOpen() const {
    return m_native->file != INVALID_HANDLE_VALUE;
}

FirmwareResult FirmwareFile::Open(const char* path, FileSharing sharing) {
    Close();
    m_native->file =
        ::CreateFileA(path, GENERIC_READ, sharing == FileSharing::Readers ? FILE_SHARE_READ : 0,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_native->file == INVALID_HANDLE_VALUE)
        return FirmwareResult::Failure(FirmwareError::Open);
    return FirmwareResult::Success();
}

void FirmwareFile::Close() {
    if (m_native->file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_native->file);
        m_native->file = INVALID_HANDLE_VALUE;
    }
}

FirmwareResult FirmwareFile::Size(std::uint32_t& size) {
    LARGE_INTEGER fullSize{};
    if (!::GetFileSizeEx(m_native->file, &fullSize))
        return FirmwareResult::Failure(FirmwareError::Read);
    if (fullSize.QuadPart > 0xFFFFFFFFLL)
        return FirmwareResult::Failure(FirmwareError::TooLarge, kErrorTooLarge);
    size = static_cast<std::uint32_t>(fullSize.QuadPart);
    return FirmwareResult::Success();
}

FirmwareResult FirmwareFile::Read(void* buffer, std::uint32_t capacity, std::uint32_t& read) {
    DWORD got = 0;
    read = 0;
    if (!::ReadFile(m_native->file, buffer, capacity, &got, nullptr))
        return FirmwareResult::Failure(FirmwareError::Read);
    read = got;
    return FirmwareResult::Success();
}

bool FirmwareFile::Rewind() {
    return ::SetFilePointer(m_native->file, 0, nullptr, FILE_BEGIN) == 0;
}

bool IsFolder(const char* path) {
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FilesInFolder(const char* folder, std::vector<std::string>& names, SystemError& error) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA(PathInFolder(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (::FindNextFileA(search, &found));
    error = ::GetLastError();
    ::FindClose(search);
    return error == ERROR_NO_MORE_FILES;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    const bool separated = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
    return folder + (separated ? "" : "\\") + name;
}

std::size_t FileNameStart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? 0 : separator + 1;
}

bool SameFileName(const std::string& a, const std::string& b) {
    // Windows' file systems compare names without letter case, by the upper-case table that
    // CompareStringOrdinal uses, on the names' UTF-16 form.
    const auto wide = [](const std::string& text) {
        std::wstring result(text.size(), L'\0');
        const int length =
            ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                  result.data(), static_cast<int>(result.size()));
        result.resize(length > 0 ? length : 0);
        return result;
    };
    const std::wstring wideA = wide(a), wideB = wide(b);
    return ::CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                  static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}
