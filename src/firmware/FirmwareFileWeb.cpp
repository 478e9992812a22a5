// The firmware file in the browser: the bytes of a file the page read (File API) and handed to
// the engine under a name; a path names one of them. There are no folders.
#include "firmware/FirmwareFile.h"

#include <emscripten.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

// clang-format off
EM_JS(int, orvane_file_size, (const char* name), {
    const bytes = Module.orvaneFiles && Module.orvaneFiles.get(UTF8ToString(name));
    return bytes ? bytes.length : -1;
});
EM_JS(void, orvane_file_copy, (const char* name, std::uint8_t* into), {
    HEAPU8.set(Module.orvaneFiles.get(UTF8ToString(name)), into);
});
// clang-format on

struct FirmwareFile::Native {
    std::vector<std::uint8_t> bytes;
    size_t at = 0;
    bool open = false;
};

FirmwareFile::FirmwareFile() : m_native(std::make_unique<Native>()) {}
FirmwareFile::~FirmwareFile() = default;

FirmwareResult FirmwareFile::Open(const char* path, FileSharing) {
    Close();
    const int size = orvane_file_size(path);
    if (size < 0)
        return FirmwareResult::Failure(FirmwareError::Open, ENOENT);
    m_native->bytes.resize(static_cast<size_t>(size));
    if (size > 0)
        orvane_file_copy(path, m_native->bytes.data());
    m_native->open = true;
    return FirmwareResult::Success();
}

void FirmwareFile::Close() {
    *m_native = Native();
}

bool FirmwareFile::IsOpen() const {
    return m_native->open;
}

FirmwareResult FirmwareFile::Size(std::uint32_t& size) {
    if (!m_native->open)
        return FirmwareResult::Failure(FirmwareError::Read, EBADF);
    size = static_cast<std::uint32_t>(m_native->bytes.size());
    return FirmwareResult::Success();
}

FirmwareResult FirmwareFile::Read(void* buffer, std::uint32_t capacity, std::uint32_t& read) {
    if (!m_native->open)
        return FirmwareResult::Failure(FirmwareError::Read, EBADF);
    read = static_cast<std::uint32_t>(
        std::min<size_t>(capacity, m_native->bytes.size() - m_native->at));
    std::memcpy(buffer, m_native->bytes.data() + m_native->at, read);
    m_native->at += read;
    return FirmwareResult::Success();
}

bool FirmwareFile::Rewind() {
    m_native->at = 0;
    return true;
}

bool IsFolder(const char*) {
    return false;
}

bool FilesInFolder(const char*, std::vector<std::string>&, SystemError& error) {
    error = ENOTDIR;
    return false;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}
