#pragma once
// A firmware file (.ace): the whole file, its 512-byte header included, is what the unit
// receives. The file is held without sharing from open to close, so it cannot change between
// the check of its header and the transfer; several transfers of one file at once share it with
// readers only, each through a handle of its own, so it still cannot change.

#include "common/Outcome.h"

#include <windows.h>

#include <array>

enum class FirmwareError {
    None,
    Open,     // the file cannot be opened (missing, no access, held by another program)
    Read,     // a read failed
    TooShort, // fewer than 512 bytes: no header
    Rewind,   // the file could not be put back to its start after the header
    TooLarge, // 4 GiB or more: sizes and counts are 32-bit
};
using FirmwareResult = Outcome<FirmwareError>;

constexpr DWORD kHeaderSize = 512;
using FirmwareHeader = std::array<char, kHeaderSize>;

// Who else may open the file while it is held: nobody, or other readers.
enum class FileSharing { None, Readers };

class FirmwareFile {
  public:
    FirmwareFile() = default;
    ~FirmwareFile() { Close(); }
    FirmwareFile(const FirmwareFile&) = delete;
    FirmwareFile& operator=(const FirmwareFile&) = delete;

    // Opens the file for reading, positioned at its start, allowing no other opener or, with
    // Readers, other readers but no writer.
    FirmwareResult Open(const char* path, FileSharing sharing = FileSharing::None);
    void Close();
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return m_file; }

    // Reads the first 512 bytes and goes back to the start, so the transfer sends the header.
    FirmwareResult ReadHeader(FirmwareHeader& header);
    // The file's size; files of 4 GiB or more are refused.
    FirmwareResult Size(DWORD& size);
    // Reads the next piece of up to capacity bytes; read is 0 at the end of the file.
    FirmwareResult Read(void* buffer, DWORD capacity, DWORD& read);

  private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
};
