#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace simeq {

// inotify, used for open/close of the pty slaves and of the client's liveness
// file. Unlike POLLHUP on a master, these events queue up, so a close
// followed at once by a reopen is not missed.
class FileWatch {
  public:
    enum class Event { Opened, Closed, Gone, Overflow };

    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    bool init(std::string& error);
    int fd() const { return fd_; }

    // Returns the watch id, or -1.
    int watchOpenClose(const std::string& path);
    void unwatch(int id);

    // Hands every queued event to the callback, in order. Overflow comes with id -1.
    void drain(const std::function<void(int id, Event)>& onEvent);

  private:
    int fd_ = -1;
};

} // namespace simeq
