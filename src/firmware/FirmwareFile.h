#pragma once
// A firmware file (.ace): the whole file, its 512-byte header included, is what the unit
// receives. The file is held without sharing from open to close, so it cannot change between
// the check of its header and the transfer; several transfers of one file at once share it with
// readers only, each through a handle of its own, so it still cannot change. Each system's file
// (FirmwareFileWin.cpp, FirmwareFilePosix.cpp) holds the calls.

#include "common/Outcome.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class FirmwareError {
    None,
    Open,     // the file cannot be opened (missing, no access, held by another program)
    Read,     // a read failed
    TooShort, // fewer than 512 bytes: no header
    Rewind,   // the file could not be put back to its start after the header
    TooLarge, // 4 GiB or more: sizes and counts are 32-bit
};
using FirmwareResult = Outcome<FirmwareError>;

constexpr std::uint32_t kHeaderSize = 512;
using FirmwareHeader = std::array<char, kHeaderSize>;

// Who else may open the file while it is held: nobody, or other readers.
enum class FileSharing { None, Readers };

class FirmwareFile {
  public:
    // The system's handle of the file; defined by each system's file, and in FirmwareFileWin.h
    // for Windows code that needs it.
    struct Native;

    FirmwareFile();
    ~FirmwareFile();
    FirmwareFile(const FirmwareFile&) = delete;
    FirmwareFile& operator=(const FirmwareFile&) = delete;

    // Opens the file for reading, positioned at its start, allowing no other opener or, with
    // Readers, other readers but no writer. A folder is not a file and does not open.
    FirmwareResult Open(const char* path, FileSharing sharing = FileSharing::None);
    void Close();
    bool IsOpen() const;

    // Reads the first 512 bytes and goes back to the start, so the transfer sends the header.
    FirmwareResult ReadHeader(FirmwareHeader& header);
    // The file's size; files of 4 GiB or more are refused.
    FirmwareResult Size(std::uint32_t& size);
    // Reads the next piece of up to capacity bytes; read is 0 at the end of the file.
    FirmwareResult Read(void* buffer, std::uint32_t capacity, std::uint32_t& read);
    // Reads pieces until capacity bytes are filled or the file ends; filled says how many.
    FirmwareResult ReadUpTo(void* buffer, std::uint32_t capacity, std::uint32_t& filled);
    // The whole file's SHA-256 in lowercase hex, read from its start; the file is put back at
    // its start afterwards.
    FirmwareResult Sha256(std::string& hex);

    Native& System() { return *m_native; }

  private:
    // Back to the file's first byte.
    bool Rewind();

    std::unique_ptr<Native> m_native;
};

// Whether the path names a folder (which is never a firmware file).
bool IsFolder(const char* path);

// The names of the files in a folder, not of its subfolders, in no particular order; false with
// the system's error when the folder cannot be read. The names are the system's 8-bit ones, as
// Open takes them.
bool FilesInFolder(const char* folder, std::vector<std::string>& names, SystemError& error);
// A name in a folder, joined with this system's separator.
std::string PathInFolder(const std::string& folder, const std::string& name);
// Where a path's last part, the file's name, starts: after its last separator (0 when it has
// none).
std::size_t FileNameStart(const std::string& path);
// Whether two names of files in one folder name the same file, letter case as this system
// compares it.
bool SameFileName(const std::string& a, const std::string& b);
