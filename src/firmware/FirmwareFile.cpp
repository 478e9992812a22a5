#include "firmware/FirmwareFile.h"

FirmwareResult FirmwareFile::ReadHeader(FirmwareHeader& header) {
    std::uint32_t read = 0;
    if (const FirmwareResult got = ReadSome(header.data(), kHeaderSize, read); !got)
        return got;
    if (read != kHeaderSize)
        return FirmwareResult::Failure(FirmwareError::TooShort, kErrorEndOfFile);
    if (!Rewind())
        return FirmwareResult::Failure(FirmwareError::Rewind);
    return FirmwareResult::Success();
}

FirmwareResult FirmwareFile::Read(void* buffer, std::uint32_t capacity, std::uint32_t& read) {
    return ReadSome(buffer, capacity, read);
}
