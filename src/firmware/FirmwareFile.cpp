#include "firmware/FirmwareFile.h"

#include "common/Sha256Digest.h"

namespace {
constexpr std::uint32_t kHashPiece = 64 * 1024;
} // namespace

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

FirmwareResult FirmwareFile::ReadUpTo(void* buffer, std::uint32_t capacity, std::uint32_t& filled) {
    filled = 0;
    while (filled < capacity) {
        std::uint32_t read = 0;
        if (const FirmwareResult got =
                Read(static_cast<char*>(buffer) + filled, capacity - filled, read);
            !got)
            return got;
        if (read == 0)
            break;
        filled += read;
    }
    return FirmwareResult::Success();
}

FirmwareResult FirmwareFile::Sha256(std::string& hex) {
    if (!Rewind())
        return FirmwareResult::Failure(FirmwareError::Rewind);
    Sha256Digest digest;
    std::vector<char> piece(kHashPiece);
    for (;;) {
        std::uint32_t read = 0;
        if (const FirmwareResult result = Read(piece.data(), kHashPiece, read); !result)
            return result;
        if (read == 0)
            break;
        digest.Add(piece.data(), read);
    }
    if (!Rewind())
        return FirmwareResult::Failure(FirmwareError::Rewind);
    hex = digest.Finish();
    return FirmwareResult::Success();
}
