#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace simeq {

// Finds "ver\r" and "pgm\r" in the byte stream from the tool. After "pgm\r"
// every byte is firmware, whatever it looks like, until reset() (port closed).
class CommandScanner {
  public:
    enum class Command { Version, Program };

    void scan(const std::uint8_t* data, std::size_t size,
              const std::function<void(Command)>& onCommand);
    void reset();

    bool programming() const { return programming_; }
    std::uint64_t firmwareBytes() const { return firmwareBytes_; }

  private:
    std::uint32_t window_ = 0; // the last four bytes, oldest in the top byte
    std::size_t filled_ = 0;
    bool programming_ = false;
    std::uint64_t firmwareBytes_ = 0;
};

} // namespace simeq
