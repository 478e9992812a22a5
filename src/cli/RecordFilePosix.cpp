// The record's file on POSIX systems: a new file is made by a hard link from a file written
// aside (link fails when the name exists, also on network file systems), an existing one is
// appended to with O_APPEND and one write(). On NFS, O_APPEND alone does not keep the appends of
// two computers apart, so appenders also take turns with flock (which NFS carries as a lock).
#include "cli/BenchRecord.h"

#include "common/Clock.h"
#include "common/SystemError.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long another appender's turn is waited for.
constexpr int kTurnAttempts = 100;
constexpr std::uint32_t kTurnPauseMs = 20;
// Readable by all and writable by the group, as a record shared by a bench's users needs.
constexpr mode_t kRecordMode = 0664;

bool TakeTurn(int fd) {
    for (int attempt = 0; attempt < kTurnAttempts; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        PauseMs(kTurnPauseMs);
    }
    errno = EWOULDBLOCK;
    return false;
}

bool WriteAll(int fd, const std::string& text) {
    ssize_t written;
    do {
        written = ::write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(text.size());
}

std::string Failure(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + SystemErrorText(LastSystemError());
}

// Makes the file with header and row in it: true with created, or true without it when another
// program made the file first; false with why not.
bool Create(const std::string& path, const std::string& text, bool& created, std::string& error) {
    created = false;
    std::string aside = path + ".XXXXXX";
    const int fd = ::mkstemp(aside.data());
    if (fd < 0) {
        error = Failure("cannot write beside", path);
        return false;
    }
    const bool written = WriteAll(fd, text) && ::fchmod(fd, kRecordMode) == 0;
    ::close(fd);
    if (!written) {
        error = Failure("cannot write", aside);
    } else if (::link(aside.c_str(), path.c_str()) == 0) {
        created = true;
    } else if (errno != EEXIST) {
        error = Failure("cannot make", path);
    }
    ::unlink(aside.c_str());
    return written && (created || error.empty());
}

} // namespace

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0)
        return "";
    return name;
}

bool AppendToRecordFile(const std::string& path, const std::string& header, const std::string& row,
                        std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        bool created = false;
        if (!Create(path, header + row, created, error))
            return false;
        if (created)
            return true;
        // Another program made it meanwhile: append to its file.
        return AppendToRecordFile(path, header, row, error);
    }
    if (fd < 0) {
        error = Failure("cannot open", path);
        return false;
    }
    const bool written = TakeTurn(fd) && WriteAll(fd, row);
    if (!written)
        error = Failure("cannot append to", path);
    ::close(fd);
    return written;
}

bool RecordFileWritable(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno != ENOENT) {
        error = Failure("cannot open", path);
        return false;
    }
    // A new file is written aside first: a file aside that can be made proves the folder.
    std::string aside = path + ".XXXXXX";
    const int probe = ::mkstemp(aside.data());
    if (probe < 0) {
        error = Failure("cannot write beside", path);
        return false;
    }
    ::close(probe);
    ::unlink(aside.c_str());
    return true;
}
