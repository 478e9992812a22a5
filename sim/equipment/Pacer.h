#pragma once

#include "Time.h"

#include <cstddef>
#include <cstdint>

namespace simeq {

// Limits reading to what a serial line carries. Credit builds up only while
// the tool's bytes are waiting, as on a real line: after an idle spell the
// first bytes take their time again instead of arriving in a burst. Credit
// lost to a late wake-up is made up (up to 20 ms of it), so the long-run
// rate holds on a busy machine while the total never runs ahead of the line.
class Pacer {
  public:
    void reset(std::uint32_t bytesPerSecond, TimePoint now);

    // Idle: nothing known to be waiting; poll for data, then start().
    bool idle() const { return idle_; }
    void start(TimePoint now);

    std::size_t available(TimePoint now) const;
    // Reading in slices of a millisecond keeps wake-ups near 1000 a second.
    bool ready(TimePoint now) const;
    TimePoint readyAt() const;
    // drained: the pty had no more than this, so the line falls idle.
    void consume(std::size_t bytes, TimePoint now, bool drained);

  private:
    double tokensAt(TimePoint now) const;

    double rate_ = 46080.0;
    double slice_ = 46.0;
    double capacity_ = 921.0;
    double tokens_ = 0.0;
    TimePoint last_{};
    bool idle_ = true;
};

} // namespace simeq
