#include "ConfigSource.h"

#include "FileIo.h"

namespace simeq {
namespace {

std::string seqLine(const std::string& text) {
    std::string seq;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (text.compare(start, 4, "seq=") == 0)
            seq = text.substr(start + 4, end - start - 4);
        start = end + 1;
    }
    while (!seq.empty() && (seq.back() == '\r' || seq.back() == ' '))
        seq.pop_back();
    return seq;
}

} // namespace

std::optional<PortConfig> ConfigSource::poll() {
    std::optional<std::string> text = readWholeFile(confPath_);
    if (!first_ && text == lastText_)
        return std::nullopt;
    first_ = false;
    lastText_ = text;
    ++count_;

    if (!text)
        return PortConfig{};
    ParsedConfig parsed = parsePortConfig(*text);
    if (!parsed.config) {
        // Report the seq even so, or the writer would wait for nothing.
        acknowledge(seqLine(*text), "error " + parsed.error);
        return std::nullopt;
    }
    return parsed.config;
}

void ConfigSource::confirm(const PortConfig& applied) {
    acknowledge(applied.seq, "ok");
}

void ConfigSource::acknowledge(const std::string& seq, const std::string& status) {
    writeFileAtomically(appliedPath_, "seq=" + seq + "\ncount=" + std::to_string(count_) +
                                          "\nstatus=" + status + "\n");
}

} // namespace simeq
