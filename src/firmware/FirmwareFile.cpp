#include "firmware/FirmwareFile.h"

FirmwareResult FirmwareFile::ReadHeader(FirmwareHeader& header) {
    std::uint32_t read = 0;
    if (const FirmwareResult got = Read(header.data(), kHeaderSize, read); !got)
        return got;
    if (read != kHeaderSize)
        return FirmwareResult::Failure(FirmwareError::TooShort, kErrorEndOfFile);
    if (!Rewind())
        return FirmwareResult::Failure(FirmwareError::Rewind);
    return FirmwareResult::Success();
}
