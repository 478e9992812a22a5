#include "Options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace simeq {
namespace {

bool toInt(std::string_view s, long long min, long long max, long long& out) {
    long long value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || value < min || value > max)
        return false;
    out = value;
    return true;
}

} // namespace

const char* usage() {
    return "usage: orvane-sim-equipment [--lifetime SECONDS] [--parent-pid PID] "
           "[--watch-file PATH] STATE_DIR DOSDEVICES_DIR N [N ...]";
}

std::optional<std::string> parseOptions(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        const std::string_view name = argv[i];
        if (i + 1 >= argc)
            return std::string(name) + " needs a value";
        const std::string_view value = argv[i + 1];
        long long number = 0;
        if (name == "--lifetime") {
            if (!toInt(value, 1, 86400, number))
                return "bad --lifetime " + std::string(value);
            options.lifetimeSeconds = static_cast<int>(number);
        } else if (name == "--parent-pid") {
            if (!toInt(value, 0, 1LL << 30, number))
                return "bad --parent-pid " + std::string(value);
            options.parentPid = static_cast<pid_t>(number);
        } else if (name == "--watch-file") {
            options.watchFile = value;
        } else {
            return "unknown option " + std::string(name);
        }
    }
    if (argc - i < 3)
        return std::string("missing arguments");
    options.stateDir = argv[i++];
    options.dosDevicesDir = argv[i++];
    for (; i < argc; ++i) {
        long long port = 0;
        if (!toInt(argv[i], 1, 256, port))
            return "bad port number " + std::string(argv[i]);
        if (std::find(options.ports.begin(), options.ports.end(), port) != options.ports.end())
            return "port " + std::string(argv[i]) + " given twice";
        options.ports.push_back(static_cast<int>(port));
    }
    return std::nullopt;
}

} // namespace simeq
