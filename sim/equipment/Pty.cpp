#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace simeq {

Pty::~Pty() {
    close();
}

bool Pty::open(std::string& error) {
    close();
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0 ||
        ::ptsname_r(fd_, name, sizeof name) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    slavePath_ = name;
    if (!makeRaw()) {
        error = std::string("cannot set the pseudo-terminal raw: ") + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

void Pty::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    slavePath_.clear();
}

bool Pty::makeRaw() {
    // On Linux the termios requests on a master act on its slave, so the line
    // is set up without opening the slave (an open/close of our own would
    // look like a tool session).
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool Pty::setXonXoff(bool on) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        return false;
    const auto flags = static_cast<tcflag_t>(IXON | IXOFF);
    t.c_iflag = on ? (t.c_iflag | flags) : (t.c_iflag & ~flags);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool Pty::xonXoff() const {
    termios t{};
    return fd_ >= 0 && ::tcgetattr(fd_, &t) == 0 && (t.c_iflag & IXON) != 0;
}

void Pty::discardInput() {
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

Pty::Result Pty::read(void* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(fd_, buffer, size);
        if (n > 0)
            return {Status::Data, static_cast<std::size_t>(n)};
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno == EAGAIN)
            return {Status::Empty, 0};
        // The kernel hands out what the slave wrote before its close, and
        // only then reports EIO.
        return {errno == EIO ? Status::Closed : Status::Error, 0};
    }
}

Pty::Result Pty::write(const void* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::write(fd_, data, size);
        if (n >= 0)
            return {Status::Data, static_cast<std::size_t>(n)};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return {Status::Empty, 0};
        return {errno == EIO ? Status::Closed : Status::Error, 0};
    }
}

} // namespace simeq
