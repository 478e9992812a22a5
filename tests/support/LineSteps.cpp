#include "support/LineSteps.h"

#include "common/Clock.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class StepRecorder : public LineProbe {
  public:
    explicit StepRecorder(const DrainCase& c) : m_queued(c.queued), m_shrink(c.shrinkPerLook) {}
    void Step(LineStep step) override {
        static const char* const kNames[] = {"written", "drained", "sent", "restored", "closed"};
        steps.push_back(kNames[static_cast<int>(step)]);
    }
    std::uint32_t Queued(std::uint32_t measured) override {
        const std::uint32_t held = m_queued;
        m_queued -= std::min(m_queued, m_shrink);
        return measured + held;
    }
    std::vector<std::string> steps;

  private:
    std::uint32_t m_queued;
    const std::uint32_t m_shrink;
};

class GoOn : public TransferObserver {
    bool Starting(std::uint32_t) override { return true; }
    bool Sending() override { return true; }
    bool Written(std::uint32_t, std::uint32_t) override { return true; }
    bool Waiting() override { return true; }
};

// A file of 5000 bytes goes in three chunks: four writes with "pgm\r".
const std::vector<std::string> kDrained = {"written", "written",  "written",  "written", "drained",
                                           "sent",    "returned", "restored", "closed"};
const std::vector<std::string> kNotDrained = {"written",  "written",  "written", "written",
                                              "returned", "restored", "closed"};

} // namespace

const std::vector<DrainCase> kDrainCases = {
    {"DrainedBeforeTheEndAndTheSettingsPutBackAfterIt", 5000, 0, 0, 300, TransferError::None,
     kDrained, 0},
    {"SlowDrainOutlastsTheLimitWhileTheQueueShrinks", 5000, 30, 1, 100, TransferError::None,
     kDrained, 400},
    {"QueueThatDoesNotDrainFailsTheLastChunk", 5000, 4096, 0, 300, TransferError::ChunkWrite,
     kNotDrained, 300},
    {"EmptyFileThatDoesNotDrainFailsTheProgramCommand",
     0,
     4,
     0,
     300,
     TransferError::ProgramCommand,
     {"written", "returned", "restored", "closed"},
     300},
};

void RunDrainCase(const DrainCase& c, const std::string& port, const std::string& path) {
    StepRecorder recorder(c);
    SerialLine line(&recorder);
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Open(path.c_str()));
    ASSERT_TRUE(line.Open(port));
    GoOn observer;
    const std::uint64_t start = MonotonicMs();
    const TransferResult sent =
        SendFirmware(line, firmware, observer, {kChunkSize, c.stallLimitMs});
    const std::uint64_t elapsed = MonotonicMs() - start;
    recorder.steps.push_back("returned");
    line.Close();
    EXPECT_EQ(sent.failed, c.expected);
    EXPECT_EQ(sent.systemError, c.expected == TransferError::None ? kNoSystemError : kErrorTimeout);
    EXPECT_EQ(recorder.steps, c.steps);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LT(elapsed, c.minMs + 2500);
}
