#pragma once
// The transfer of a firmware file to a unit on an open line: the program command, then the
// whole file from its first byte in chunks, each write bounded by the stall limit. Whoever
// runs it follows it through an observer, which also decides whether to go on.

#include "common/Outcome.h"
#include "device/SerialLine.h"
#include "firmware/FirmwareFile.h"

#include <vector>

enum class TransferError {
    None,
    FileSize,       // the file's size cannot be had
    FileTooLarge,   // 4 GiB or more
    ProgramCommand, // the unit did not take "pgm\r" (nor, for an empty file, did it drain)
    FileRead,       // a read of the file failed
    ChunkWrite,     // the unit did not take a chunk, or the output did not drain after the last
    Cancelled,      // the observer asked to stop
};
using TransferResult = Outcome<TransferError>;

constexpr std::uint32_t kChunkSize = 2048;

struct TransferOptions {
    std::uint32_t chunkSize = kChunkSize;
    std::uint32_t stallLimitMs = kWriteStallLimitMs;
};

class TransferObserver {
  public:
    // The size is known and nothing has been sent yet. false: stop, and nothing is sent (not
    // even the program command, which would leave the unit waiting for a file).
    virtual bool Starting(std::uint32_t total) = 0;
    // The program command went out; the file follows. false: stop before any of it is sent.
    virtual bool Sending() = 0;
    // After each chunk: bytes sent so far. false: the chunk read next is not sent.
    virtual bool Written(std::uint32_t done, std::uint32_t total) = 0;
    // While a write waits for the unit, about every kWaitSliceMs. false: the pending write is
    // cancelled at once.
    virtual bool Waiting() = 0;
    // The last read of the file is done (its end, or a stop asked for); nothing more is sent.
    virtual void Ending() {}

  protected:
    ~TransferObserver() = default;
};

// Sends "pgm\r" and the file, which must be open at its start, and waits until the line's
// output has drained. Ends there, at the first failure, or when the observer asks to stop; a
// drain that stalls is the failure of the last write (the program command for an empty file).
// The line stays open.
TransferResult SendFirmware(SerialLine& line, FirmwareFile& file, TransferObserver& observer,
                            const TransferOptions& options = {});
// The same for an image held in memory (smaller than 4 GiB).
TransferResult SendFirmwareImage(SerialLine& line, const std::vector<std::uint8_t>& image,
                                 TransferObserver& observer, const TransferOptions& options = {});
