#include "CommandScanner.h"

namespace simeq {
namespace {

constexpr std::uint32_t word(const char (&s)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3]));
}

constexpr std::uint32_t kVersion = word("ver\r");
constexpr std::uint32_t kProgram = word("pgm\r");

} // namespace

void CommandScanner::scan(const std::uint8_t* data, std::size_t size,
                          const std::function<void(Command)>& onCommand) {
    for (std::size_t i = 0; i < size; ++i) {
        if (programming_) {
            firmwareBytes_ += size - i;
            return;
        }
        window_ = (window_ << 8) | data[i];
        if (++filled_ < 4)
            continue;
        if (window_ == kVersion || window_ == kProgram) {
            // A command consumes its bytes: "ver\rver\r" is two requests.
            filled_ = 0;
            programming_ = (window_ == kProgram);
            onCommand(programming_ ? Command::Program : Command::Version);
        }
    }
}

void CommandScanner::reset() {
    *this = CommandScanner{};
}

} // namespace simeq
