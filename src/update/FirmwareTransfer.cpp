#include "update/FirmwareTransfer.h"

#include "device/UnitCommands.h"

#include <vector>

TransferResult SendFirmware(SerialLine& line, FirmwareFile& file, TransferObserver& observer,
                            const TransferOptions& options) {
    std::uint32_t total = 0;
    if (const FirmwareResult sized = file.Size(total); !sized)
        return TransferResult::Failure(sized.failed == FirmwareError::TooLarge
                                           ? TransferError::FileTooLarge
                                           : TransferError::FileSize,
                                       sized.systemError);
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
        if (const FirmwareResult got = file.Read(chunk.data(), options.chunkSize, read); !got)
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
