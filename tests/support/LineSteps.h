#pragma once
// The end of a transfer as the line lives it, for the Windows and the Linux suite alike: the
// line's steps recorded through its probe, which can also keep bytes in the output queue (a
// pseudo-terminal has no queue that could stay full).

#include "update/FirmwareTransfer.h"

#include <ostream>
#include <string>
#include <vector>

struct DrainCase {
    const char* name;
    size_t imageSize;
    std::uint32_t queued;        // bytes kept queued after the last write,
    std::uint32_t shrinkPerLook; // less this many at each look at the queue
    std::uint32_t stallLimitMs;
    TransferError expected;
    // From the first write to the close; "returned" is the end of the transfer.
    std::vector<std::string> steps;
    std::uint32_t minMs; // how long the transfer took at least
};

inline void PrintTo(const DrainCase& c, std::ostream* out) {
    *out << c.name;
}

extern const std::vector<DrainCase> kDrainCases;

// Sends the firmware file at path to the unit on port over a line with a recording probe, closes
// the line, and checks the result, the order of the steps and the time taken.
void RunDrainCase(const DrainCase& c, const std::string& port, const std::string& path);
