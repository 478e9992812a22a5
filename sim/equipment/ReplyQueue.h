#pragma once

#include "Time.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace simeq {

class Pty;

// Bytes the unit will send at given times, kept in order even if a later
// entry falls due first.
class ReplyQueue {
  public:
    void schedule(TimePoint at, std::vector<std::uint8_t> bytes);
    void clear();

    std::optional<TimePoint> nextDue() const;
    bool waitingForSpace() const { return waitingForSpace_; }

    // Writes what is due; returns the bytes written.
    std::vector<std::uint8_t> flush(Pty& pty, TimePoint now);

  private:
    struct Entry {
        TimePoint at;
        std::vector<std::uint8_t> bytes;
    };
    std::deque<Entry> entries_;
    bool waitingForSpace_ = false;
};

} // namespace simeq
