#include "firmware/FirmwareFile.h"

FirmwareResult FirmwareFile::Open(const char* path, FileSharing sharing) {
    Close();
    m_file =
        ::CreateFileA(path, GENERIC_READ, sharing == FileSharing::Readers ? FILE_SHARE_READ : 0,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE)
        return FirmwareResult::Failure(FirmwareError::Open);
    return FirmwareResult::Success();
}

void FirmwareFile::Close() {
    if (m_file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
}

FirmwareResult FirmwareFile::ReadHeader(FirmwareHeader& header) {
    DWORD read = 0;
    if (!::ReadFile(m_file, header.data(), kHeaderSize, &read, nullptr))
        return FirmwareResult::Failure(FirmwareError::Read);
    if (read != kHeaderSize)
        return FirmwareResult::Failure(FirmwareError::TooShort, ERROR_HANDLE_EOF);
    if (::SetFilePointer(m_file, 0, nullptr, FILE_BEGIN) != 0)
        return FirmwareResult::Failure(FirmwareError::Rewind);
    return FirmwareResult::Success();
}

FirmwareResult FirmwareFile::Size(DWORD& size) {
    LARGE_INTEGER fullSize{};
    if (!::GetFileSizeEx(m_file, &fullSize))
        return FirmwareResult::Failure(FirmwareError::Read);
    if (fullSize.QuadPart > 0xFFFFFFFFLL)
        return FirmwareResult::Failure(FirmwareError::TooLarge, ERROR_FILE_TOO_LARGE);
    size = static_cast<DWORD>(fullSize.QuadPart);
    return FirmwareResult::Success();
}

FirmwareResult FirmwareFile::Read(void* buffer, DWORD capacity, DWORD& read) {
    read = 0;
    if (!::ReadFile(m_file, buffer, capacity, &read, nullptr))
        return FirmwareResult::Failure(FirmwareError::Read);
    return FirmwareResult::Success();
}
