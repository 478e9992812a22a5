#pragma once
// The progress line of one unit's update, fitted to the terminal's width:
// "/dev/ttyUSB0 [=========>          ]  49%  46080 B/s  12 s left", and while --verify waits,
// "/dev/ttyUSB0 [====================] 100%  confirming version 006, 3.2 s".

#include <cstdint>
#include <string>

struct UnitProgress {
    std::string who; // the port, or "3 units"
    unsigned long long done = 0, total = 0;
    std::uint32_t elapsedMs = 0;    // of the transfer
    int confirmingVersion = -1;     // the version asked for, once sent; -1 before
    std::uint32_t confirmingMs = 0; // how long it has been asked for
    std::string ended;              // "updated", "failed", ... once the update has ended
};

// The line in at most columns characters: the time left goes first when it does not fit, then
// the rate, then the bar narrows; the port and the percentage stay.
std::string ProgressBarLine(const UnitProgress& progress, size_t columns);
