#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simeq {

struct Options {
    int lifetimeSeconds = 900;
    // Exit when this process ends; by default the parent at start, 0 = none.
    std::optional<pid_t> parentPid;
    // Exit when the last holder of this file closes it (the Wine client keeps
    // it open; Wine starts native programs through a double fork, so the
    // client is not our parent).
    std::string watchFile;
    std::string stateDir;
    std::string dosDevicesDir;
    std::vector<int> ports;
};

// Fills options from argv; on failure returns the message to print.
std::optional<std::string> parseOptions(int argc, char** argv, Options& options);

const char* usage();

} // namespace simeq
