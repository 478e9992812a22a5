#include "support/LineSteps.h"

#include "common/Clock.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const char* Name(LineStep step) {
    switch (step) {
    case LineStep::Written:
        return "written";
    case LineStep::Drained:
        return "drained";
    case LineStep::SettingsRestored:
        return "settings restored";
    case LineStep::Closed:
        return "closed";
    }
    return "?";
}

// Stops the transfer at the given wait, and otherwise lets it go on.
class StopAtWait : public TransferObserver {
  public:
    explicit StopAtWait(int stopAfterWaits) : m_stopAfter(stopAfterWaits) {}
    bool Starting(std::uint32_t) override { return true; }
    bool Sending() override { return true; }
    bool Written(std::uint32_t, std::uint32_t) override { return true; }
    bool Waiting() override { return ++m_waits != m_stopAfter; }

  private:
    const int m_stopAfter;
    int m_waits = 0;
};

std::vector<std::string> Steps(int writes, std::vector<std::string> end) {
    std::vector<std::string> steps(writes, "written");
    steps.insert(steps.end(), end.begin(), end.end());
    return steps;
}

constexpr size_t kImage = 5000; // "pgm\r" and three chunks: four writes
constexpr std::uint32_t kLimit = 300;

} // namespace

void StepRecorder::Step(LineStep step) {
    m_steps.push_back(Name(step));
}

std::uint32_t StepRecorder::Queued(std::uint32_t measured) {
    const std::uint32_t held = m_queued;
    m_queued -= std::min(m_queued, m_shrink);
    return measured + held;
}

const std::vector<DrainCase> kDrainCases = {
    {"DrainedBeforeTheEndAndBeforeTheSettingsGoBack", kImage, 0, 0, kLimit, -1, TransferError::None,
     Steps(4, {"drained", "returned", "settings restored", "closed"}), 0, 2000},
    {"SlowDrainOutlastsTheLimitWhileTheQueueShrinks", kImage, 30, 1, 100, -1, TransferError::None,
     Steps(4, {"drained", "returned", "settings restored", "closed"}), 400, 3000},
    {"QueueThatDoesNotDrainFailsTheLastChunk", kImage, 4096, 0, kLimit, -1,
     TransferError::ChunkWrite, Steps(4, {"returned", "settings restored", "closed"}), kLimit,
     2000},
    {"EmptyFileThatDoesNotDrainFailsTheProgramCommand", 0, 4, 0, kLimit, -1,
     TransferError::ProgramCommand, Steps(1, {"returned", "settings restored", "closed"}), kLimit,
     2000},
    {"StopWhileDraining", kImage, 4096, 0, kWriteStallLimitMs, 5, TransferError::Cancelled,
     Steps(4, {"returned", "settings restored", "closed"}), 0, 2000},
};

void RunDrainCase(const DrainCase& c, const std::string& port, const std::string& path) {
    StepRecorder recorder(c.queuedAtFirst, c.shrinkPerLook);
    SerialLine line(&recorder);
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Open(path.c_str()));
    ASSERT_TRUE(line.Open(port));
    StopAtWait observer(c.stopAfterWaits);
    const std::uint64_t start = MonotonicMs();
    const TransferResult sent =
        SendFirmware(line, firmware, observer, {kChunkSize, c.stallLimitMs});
    const std::uint64_t elapsed = MonotonicMs() - start;
    recorder.Mark("returned");
    line.Close();
    EXPECT_EQ(sent.failed, c.expected);
    if (c.expected == TransferError::ChunkWrite || c.expected == TransferError::ProgramCommand) {
        EXPECT_EQ(sent.systemError, kErrorTimeout);
    }
    EXPECT_EQ(recorder.Steps(), c.steps);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LT(elapsed, c.maxMs);
}
