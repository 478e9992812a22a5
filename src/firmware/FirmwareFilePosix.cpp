// The firmware file on POSIX systems. flock stands in for Windows' sharing modes: an exclusive
// lock for no sharing, a shared one for readers. Such locks bind only programs that take them.
#include "firmware/FirmwareFile.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct FirmwareFile::Native {
    int fd = -1;
};

FirmwareFile::FirmwareFile() : m_native(std::make_unique<Native>()) {}

FirmwareFile::~FirmwareFile() {
    Close();
}

bool FirmwareFile::IsOpen() const {
    return m_native->fd >= 0;
}

FirmwareResult FirmwareFile::Open(const char* path, FileSharing sharing) {
    Close();
    // Without O_NONBLOCK a named pipe would hold the open until someone writes to it; a regular
    // file reads as ever.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return FirmwareResult::Failure(FirmwareError::Open);
    struct stat status {};
    SystemError refused = kNoSystemError;
    if (::fstat(fd, &status) != 0)
        refused = LastSystemError();
    else if (S_ISDIR(status.st_mode))
        refused = EISDIR;
    else if (!S_ISREG(status.st_mode))
        refused = EINVAL; // a device or a pipe: errno holds nothing about it
    if (refused != kNoSystemError) {
        ::close(fd);
        return FirmwareResult::Failure(FirmwareError::Open, refused);
    }
    if (::flock(fd, (sharing == FileSharing::Readers ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        const SystemError error = errno == EWOULDBLOCK ? EBUSY : LastSystemError();
        ::close(fd);
        return FirmwareResult::Failure(FirmwareError::Open, error);
    }
    m_native->fd = fd;
    return FirmwareResult::Success();
}

void FirmwareFile::Close() {
    if (m_native->fd >= 0) {
        ::close(m_native->fd);
        m_native->fd = -1;
    }
}

FirmwareResult FirmwareFile::Size(std::uint32_t& size) {
    struct stat status {};
    if (::fstat(m_native->fd, &status) != 0)
        return FirmwareResult::Failure(FirmwareError::Read);
    if (status.st_size > 0xFFFFFFFFLL)
        return FirmwareResult::Failure(FirmwareError::TooLarge, kErrorTooLarge);
    size = static_cast<std::uint32_t>(status.st_size);
    return FirmwareResult::Success();
}

FirmwareResult FirmwareFile::Read(void* buffer, std::uint32_t capacity, std::uint32_t& read) {
    read = 0;
    ssize_t got;
    do {
        got = ::read(m_native->fd, buffer, capacity);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return FirmwareResult::Failure(FirmwareError::Read);
    read = static_cast<std::uint32_t>(got);
    return FirmwareResult::Success();
}

bool FirmwareFile::Rewind() {
    return ::lseek(m_native->fd, 0, SEEK_SET) == 0;
}

bool IsFolder(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool FilesInFolder(const char* folder, std::vector<std::string>& names, SystemError& error) {
    DIR* listing = ::opendir(folder);
    if (!listing) {
        error = LastSystemError();
        return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        struct stat status {};
        if (::fstatat(::dirfd(listing), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode))
            names.push_back(entry->d_name);
        errno = 0;
    }
    error = errno;
    ::closedir(listing);
    return error == 0;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    return folder + (!folder.empty() && folder.back() == '/' ? "" : "/") + name;
}

std::size_t FileNameStart(const std::string& path) {
    const std::size_t separator = path.rfind('/');
    return separator == std::string::npos ? 0 : separator + 1;
}

bool SameFileName(const std::string& a, const std::string& b) {
    return a == b;
}
