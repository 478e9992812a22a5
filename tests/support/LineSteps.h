#pragma once
// The end of a transfer as the line lives it, for the Windows and the Linux suite alike: a probe
// that records the line's steps and can keep bytes in its output queue (a pseudo-terminal has no
// queue that could stay full), and the cases of the drain after the last chunk.

#include "device/SerialLine.h"
#include "update/FirmwareTransfer.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class StepRecorder : public LineProbe {
  public:
    // The queue holds queuedAtFirst bytes more than the system measures, shrinking by
    // shrinkPerLook at each look.
    StepRecorder(std::uint32_t queuedAtFirst, std::uint32_t shrinkPerLook)
        : m_queued(queuedAtFirst), m_shrink(shrinkPerLook) {}

    void Step(LineStep step) override;
    std::uint32_t Queued(std::uint32_t measured) override;
    // A step of the test's own, between the line's.
    void Mark(const std::string& what) { m_steps.push_back(what); }
    const std::vector<std::string>& Steps() const { return m_steps; }

  private:
    std::uint32_t m_queued;
    const std::uint32_t m_shrink;
    std::vector<std::string> m_steps;
};

struct DrainCase {
    const char* name;
    size_t imageSize;
    std::uint32_t queuedAtFirst; // bytes the probe keeps queued after the last write
    std::uint32_t shrinkPerLook;
    std::uint32_t stallLimitMs;
    int stopAfterWaits; // the observer stops the transfer at this wait; -1: never
    TransferError expected;
    // The line's steps from the first write to the close, "returned" marking the end of the
    // transfer; "written" stands for each write taken whole.
    std::vector<std::string> steps;
    std::uint32_t minMs, maxMs; // how long the transfer took
};

inline void PrintTo(const DrainCase& c, std::ostream* out) {
    *out << c.name;
}

extern const std::vector<DrainCase> kDrainCases;

// Opens a line with a recording probe to the unit on port, sends the firmware file at path with
// the case's queue, limit and stop, closes the line, and checks the result, the order of the
// steps and the time taken against the case.
void RunDrainCase(const DrainCase& c, const std::string& port, const std::string& path);
