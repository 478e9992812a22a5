#include "update/FirmwareTransfer.h"

#include "device/UnitCommands.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Reads the next piece of the image into the buffer given: up to its capacity, 0 at its end.
using ReadPiece = std::function<FirmwareResult(void*, std::uint32_t, std::uint32_t&)>;

TransferResult SendImage(SerialLine& line, std::uint32_t total, const ReadPiece& readPiece,
                         TransferObserver& observer, const TransferOptions& options) {
    std::vector<std::uint8_t> chunk(options.chunkSize);
    const WaitHook waiting = [&observer] { return observer.Waiting(); };
    if (!observer.Starting(total))
        return TransferResult::Failure(TransferError::Cancelled, kErrorCancelled);

    if (const LineResult sent =
            SendCommand(line, Program, nullptr, 0, options.stallLimitMs, waiting);
        !sent)
        return TransferResult::Failure(sent.failed == LineError::Cancelled
                                           ? TransferError::Cancelled
                                           : TransferError::ProgramCommand,
                                       sent.systemError);
    bool goOn = observer.Sending();
    std::uint32_t done = 0;
    for (;;) {
        std::uint32_t read = 0;
        if (const FirmwareResult got = readPiece(chunk.data(), options.chunkSize, read); !got)
            return TransferResult::Failure(TransferError::FileRead, got.systemError);
        if (!goOn || read == 0) {
            observer.Ending();
            // A stop asked for after the last chunk drops the chunk just read.
            if (!goOn)
                return TransferResult::Failure(TransferError::Cancelled, kErrorCancelled);
            break;
        }
        if (const LineResult wrote =
                line.WriteWithTimeout(chunk.data(), read, options.stallLimitMs, waiting);
            !wrote)
            return TransferResult::Failure(wrote.failed == LineError::Cancelled
                                               ? TransferError::Cancelled
                                               : TransferError::ChunkWrite,
                                           wrote.systemError);
        done += read;
        goOn = observer.Written(done, total);
    }
    // A write ends when the driver has the bytes, not the unit: the file is sent once they have
    // left the port. Until then the line keeps its settings, and the end is not reported.
    if (const LineResult drained = line.Drain(options.stallLimitMs, waiting); !drained) {
        // Output that did not drain fails the last write: the program command for an empty file.
        TransferError failed =
            done == 0 ? TransferError::ProgramCommand : TransferError::ChunkWrite;
        if (drained.failed == LineError::Cancelled)
            failed = TransferError::Cancelled;
        return TransferResult::Failure(failed, drained.systemError);
    }
    return TransferResult::Success();
}

} // namespace

TransferResult SendFirmware(SerialLine& line, FirmwareFile& file, TransferObserver& observer,
                            const TransferOptions& options) {
    std::uint32_t total = 0;
    if (const FirmwareResult sized = file.Size(total); !sized)
        return TransferResult::Failure(sized.failed == FirmwareError::TooLarge
                                           ? TransferError::FileTooLarge
                                           : TransferError::FileSize,
                                       sized.systemError);
    return SendImage(
        line, total,
        [&file](void* buffer, std::uint32_t capacity, std::uint32_t& read) {
            return file.Read(buffer, capacity, read);
        },
        observer, options);
}

TransferResult SendFirmwareImage(SerialLine& line, const std::vector<std::uint8_t>& image,
                                 TransferObserver& observer, const TransferOptions& options) {
    size_t next = 0;
    return SendImage(
        line, static_cast<std::uint32_t>(image.size()),
        [&](void* buffer, std::uint32_t capacity, std::uint32_t& read) {
            read = static_cast<std::uint32_t>(std::min<size_t>(capacity, image.size() - next));
            if (read > 0)
                std::memcpy(buffer, image.data() + next, read);
            next += read;
            return FirmwareResult::Success();
        },
        observer, options);
}
