#pragma once

#include "Time.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simeq {

enum class Mode { Normal, Silent, OneByte, Split, Stall, Hangup, Paced };

// Behaviour of one simulated unit, as read from portN.conf.
struct PortConfig {
    std::vector<std::uint8_t> reply{0x01, 0x07}; // answer to "ver\r": device ID, firmware
    Mode mode = Mode::Normal;
    Millis delay{0};                 // before the first reply byte
    Millis splitPause{200};          // split: between the first byte and the rest
    std::uint64_t stallAfter = 0;    // stall: bytes read (since applied) before reading stops
    std::uint64_t hangupAfter = 0;   // hangup: bytes read (since applied) before the pty closes
    std::uint32_t pacedRate = 46080; // paced: bytes per second; 460800 baud 8N1
    bool xonXoff = false;            // the line starts with XON/XOFF on, as another program left it
    // After a session that carried firmware, as a unit restarting on its new firmware: silent to
    // "ver\r" for rebootTime, then answering updatedReply (the old reply when it has none).
    Millis rebootTime{0};
    std::optional<std::vector<std::uint8_t>> updatedReply;
    std::string seq; // opaque; echoed in portN.applied so a writer can wait for it
};

struct ParsedConfig {
    std::optional<PortConfig> config; // empty when the text was rejected
    std::string error;
};

// key=value lines; blank lines and lines starting with '#' are skipped.
// Any unknown key or bad value rejects the whole text.
ParsedConfig parsePortConfig(std::string_view text);

std::string_view modeName(Mode mode);

} // namespace simeq
