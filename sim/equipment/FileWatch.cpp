#include "FileWatch.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace simeq {

FileWatch::~FileWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileWatch::init(std::string& error) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        error = std::string("inotify: ") + std::strerror(errno);
        return false;
    }
    return true;
}

int FileWatch::watchOpenClose(const std::string& path) {
    return ::inotify_add_watch(fd_, path.c_str(),
                               IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_DELETE_SELF |
                                   IN_MOVE_SELF);
}

void FileWatch::unwatch(int id) {
    if (id >= 0)
        ::inotify_rm_watch(fd_, id);
}

void FileWatch::drain(const std::function<void(int id, Event)>& onEvent) {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t offset = 0; offset < n;) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            offset += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_Q_OVERFLOW)
                onEvent(-1, Event::Overflow);
            if (event.mask & IN_OPEN)
                onEvent(event.wd, Event::Opened);
            if (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE))
                onEvent(event.wd, Event::Closed);
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF))
                onEvent(event.wd, Event::Gone);
        }
    }
}

} // namespace simeq
