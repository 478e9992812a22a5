#pragma once
// The simulated equipment's state folder as a native client reads and writes it (see
// ../README.md): a port's behaviour goes in whole with a sequence number, and the program's
// acknowledgement echoes it. Shared by the native tests' client and the simulator's own tests.

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace sim_state {

// "<state>/port7.rx" for port 7 and ".rx".
inline std::string PortFile(const std::string& state, int port, const char* suffix) {
    return state + "/port" + std::to_string(port) + suffix;
}

// The whole file; nullopt when it cannot be opened.
inline std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Writes the port's behaviour with this sequence number, aside and then renamed into place, so
// that the program never reads half of it. false when it cannot be put there.
inline bool WriteConf(const std::string& state, int port, const std::string& text, unsigned seq) {
    const std::string conf = PortFile(state, port, ".conf");
    std::ofstream(conf + ".tmp", std::ios::binary) << text << "\nseq=" << seq << "\n";
    std::error_code error;
    std::filesystem::rename(conf + ".tmp", conf, error);
    return !error;
}

// The status the program gave the conf of this sequence number ("ok", "error line 2: ..."), or
// nullopt while it has not acknowledged it.
inline std::optional<std::string> Acknowledged(const std::string& state, int port, unsigned seq) {
    const std::optional<std::string> applied = ReadFile(PortFile(state, port, ".applied"));
    const std::string echoed = "seq=" + std::to_string(seq) + "\n";
    if (!applied || applied->rfind(echoed, 0) != 0)
        return std::nullopt;
    const size_t status = applied->find("status=");
    if (status == std::string::npos)
        return std::string();
    std::string text = applied->substr(status + 7);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Whether one of the event lines starts with prefix.
inline bool HasEventLine(const std::string& events, const std::string& prefix) {
    return events.rfind(prefix, 0) == 0 || events.find("\n" + prefix) != std::string::npos;
}

} // namespace sim_state
