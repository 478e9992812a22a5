#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace simeq {

// portN.rx: every byte read from the tool, appended as soon as it is read.
// portN.events: one line per protocol event (open, ver, pgm, close, ...).
// Both are plain write(2)s on O_APPEND files, so another process sees the
// data at once, and a truncation by the test just restarts the file.
class Recorder {
  public:
    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool open(const std::string& rxPath, const std::string& eventsPath, std::string& error);
    void received(const std::uint8_t* data, std::size_t size);
    void event(std::string_view line);

  private:
    int rx_ = -1;
    int events_ = -1;
};

} // namespace simeq
