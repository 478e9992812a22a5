#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace simeq {

// The master side of a pseudo-terminal; the tool opens the slave side.
class Pty {
  public:
    enum class Status { Data, Empty, Closed, Error };
    struct Result {
        Status status;
        std::size_t bytes;
    };

    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool open(std::string& error);
    void close();

    // Raw 8-bit line: no echo, no CR/LF mapping, no XON/XOFF, no signals.
    bool makeRaw();
    // Turns XON/XOFF on the line on or off in both directions, as a program that used the
    // port before the tool may have left it.
    bool setXonXoff(bool on);
    // Whether the line has XON/XOFF on now: what the last opener left on it.
    bool xonXoff() const;
    // Drops what the tool wrote but nobody read.
    void discardInput();

    // Closed means no process has the slave open and nothing is left to read.
    Result read(void* buffer, std::size_t size);
    Result write(const void* data, std::size_t size);

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& slavePath() const { return slavePath_; }

  private:
    int fd_ = -1;
    std::string slavePath_;
};

} // namespace simeq
