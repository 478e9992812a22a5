#include "PortConfig.h"

#include <array>
#include <charconv>
#include <limits>
#include <utility>

namespace simeq {
namespace {

constexpr std::array<std::pair<std::string_view, Mode>, 7> kModes{{
    {"normal", Mode::Normal},
    {"silent", Mode::Silent},
    {"one-byte", Mode::OneByte},
    {"split", Mode::Split},
    {"stall", Mode::Stall},
    {"hangup", Mode::Hangup},
    {"paced", Mode::Paced},
}};

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool parseUnsigned(std::string_view s, std::uint64_t max, std::uint64_t& out) {
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc{} || end != s.data() + s.size() || s.empty() || value > max)
        return false;
    out = value;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHex(std::string_view s, std::vector<std::uint8_t>& out) {
    if (s.empty() || s.size() % 2 != 0)
        return false;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        int hi = hexDigit(s[i]);
        int lo = hexDigit(s[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    out = std::move(bytes);
    return true;
}

bool parseMillis(std::string_view s, Millis& out) {
    std::uint64_t v = 0;
    if (!parseUnsigned(s, 600000, v))
        return false;
    out = Millis(v);
    return true;
}

// One entry per key; a new key is one more line here.
using Setter = bool (*)(PortConfig&, std::string_view);
constexpr std::array<std::pair<std::string_view, Setter>, 11> kKeys{{
    {"reply", [](PortConfig& c, std::string_view v) { return parseHex(v, c.reply); }},
    {"mode",
     [](PortConfig& c, std::string_view v) {
         for (const auto& [name, mode] : kModes) {
             if (name == v) {
                 c.mode = mode;
                 return true;
             }
         }
         return false;
     }},
    {"delay_ms", [](PortConfig& c, std::string_view v) { return parseMillis(v, c.delay); }},
    {"split_pause_ms",
     [](PortConfig& c, std::string_view v) { return parseMillis(v, c.splitPause); }},
    {"stall_after",
     [](PortConfig& c, std::string_view v) {
         return parseUnsigned(v, std::numeric_limits<std::uint64_t>::max(), c.stallAfter);
     }},
    {"hangup_after",
     [](PortConfig& c, std::string_view v) {
         return parseUnsigned(v, std::numeric_limits<std::uint64_t>::max(), c.hangupAfter);
     }},
    {"paced_rate",
     [](PortConfig& c, std::string_view v) {
         std::uint64_t rate = 0;
         if (!parseUnsigned(v, 100000000, rate) || rate == 0)
             return false;
         c.pacedRate = static_cast<std::uint32_t>(rate);
         return true;
     }},
    {"xonxoff",
     [](PortConfig& c, std::string_view v) {
         std::uint64_t on = 0;
         if (!parseUnsigned(v, 1, on))
             return false;
         c.xonXoff = on != 0;
         return true;
     }},
    {"reboot_ms", [](PortConfig& c, std::string_view v) { return parseMillis(v, c.rebootTime); }},
    {"updated_reply",
     [](PortConfig& c, std::string_view v) {
         std::vector<std::uint8_t> reply;
         if (!parseHex(v, reply))
             return false;
         c.updatedReply = std::move(reply);
         return true;
     }},
    {"seq",
     [](PortConfig& c, std::string_view v) {
         c.seq = std::string(v);
         return true;
     }},
}};

} // namespace

ParsedConfig parsePortConfig(std::string_view text) {
    PortConfig config;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = trim(text.substr(0, eol));
        text = (eol == std::string_view::npos) ? std::string_view{} : text.substr(eol + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t eq = line.find('=');
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (eq == std::string_view::npos)
            return {std::nullopt, where + "expected key=value"};
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        bool known = false;
        for (const auto& [name, set] : kKeys) {
            if (name != key)
                continue;
            known = true;
            if (!set(config, value))
                return {std::nullopt, where + "bad value for " + std::string(key)};
        }
        if (!known)
            return {std::nullopt, where + "unknown key " + std::string(key)};
    }
    return {config, {}};
}

std::string_view modeName(Mode mode) {
    for (const auto& [name, m] : kModes) {
        if (m == mode)
            return name;
    }
    return "?";
}

} // namespace simeq
