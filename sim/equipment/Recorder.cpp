#include "Recorder.h"

#include "FileIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace simeq {

Recorder::~Recorder() {
    if (rx_ >= 0)
        ::close(rx_);
    if (events_ >= 0)
        ::close(events_);
}

bool Recorder::open(const std::string& rxPath, const std::string& eventsPath, std::string& error) {
    constexpr int flags = O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC;
    rx_ = ::open(rxPath.c_str(), flags, 0644);
    events_ = ::open(eventsPath.c_str(), flags, 0644);
    if (rx_ < 0 || events_ < 0) {
        error = "cannot create " + rxPath + " or " + eventsPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void Recorder::received(const std::uint8_t* data, std::size_t size) {
    writeAll(rx_, data, size);
}

void Recorder::event(std::string_view line) {
    std::string text(line);
    text += '\n';
    writeAll(events_, text.data(), text.size());
}

} // namespace simeq
