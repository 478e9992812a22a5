// The transfer engine against the simulated unit, followed by a recording observer: no window.
#include "support/FirmwareImage.h"
#include "support/LineBench.h"
#include "support/LineSteps.h"
#include "support/SessionCases.h"
#include "support/TempFile.h"
#include "update/FirmwareTransfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what the transfer reports and answers as told.
class Recorder : public TransferObserver {
  public:
    bool Starting(std::uint32_t total) override {
        events.push_back("starting " + std::to_string(total));
        return !stopBeforeCommand;
    }
    bool Sending() override {
        events.push_back("sending");
        return !stopBeforeData;
    }
    bool Written(std::uint32_t done, std::uint32_t total) override {
        events.push_back(std::to_string(done) + "/" + std::to_string(total));
        return ++chunks != stopAfterChunk;
    }
    bool Waiting() override {
        ++waits;
        return waits != stopAfterWaits;
    }
    void Ending() override { events.push_back("ending"); }

    std::vector<std::string> events;
    int chunks = 0;
    int waits = 0;
    int stopAfterChunk = -1;
    int stopAfterWaits = -1;
    bool stopBeforeData = false;
    bool stopBeforeCommand = false;
};

class FirmwareTransfer : public LineBench {
  protected:
    FirmwareTransfer() : LineBench(6) {}
    void SetUp() override { StartUnit(true); }
    TransferResult Send(const std::string& image, DWORD stallLimitMs = kWriteStallLimitMs) {
        TempFile file(image, ".ace");
        FirmwareFile firmware;
        EXPECT_TRUE(firmware.Open(file.Path().c_str()));
        return SendFirmware(m_line, firmware, m_recorder, {kChunkSize, stallLimitMs});
    }

    Recorder m_recorder;
};

TEST_F(FirmwareTransfer, UnitReceivesTheProgramCommandThenEveryByteAndTheObserverEachChunk) {
    const std::string image = FirmwareImage(5000);
    EXPECT_TRUE(Send(image));
    EXPECT_EQ(m_recorder.events, (std::vector<std::string>{"starting 5000", "sending", "2048/5000",
                                                           "4096/5000", "5000/5000", "ending"}));
    EXPECT_TRUE(ReceivedInAll() == "pgm\r" + image);
}

TEST_F(FirmwareTransfer, StopAfterChunkKLeavesExactlyKChunks) {
    const std::string image = FirmwareImage(5 * kChunkSize);
    for (int k : {1, 3}) {
        m_recorder = Recorder();
        m_recorder.stopAfterChunk = k;
        EXPECT_EQ(Send(image).failed, TransferError::Cancelled) << k;
        EXPECT_EQ(m_recorder.chunks, k);
        EXPECT_EQ(m_recorder.events.back(), "ending") << k;
        EXPECT_TRUE(ReceivedInAll() == "pgm\r" + image.substr(0, k * kChunkSize)) << k;
        m_unit.ClearReceived(m_port);
        ASSERT_TRUE(m_line.Open(m_portName));
    }
    // A stop before the file leaves the unit the program command only; a stop at the start
    // leaves it nothing at all.
    for (const bool beforeCommand : {false, true}) {
        m_recorder = Recorder();
        m_recorder.stopBeforeData = !beforeCommand;
        m_recorder.stopBeforeCommand = beforeCommand;
        EXPECT_EQ(Send(image).failed, TransferError::Cancelled) << beforeCommand;
        EXPECT_EQ(ReceivedInAll(), beforeCommand ? "" : "pgm\r") << beforeCommand;
        m_unit.ClearReceived(m_port);
        ASSERT_TRUE(m_line.Open(m_portName));
    }
    EXPECT_EQ(m_recorder.events,
              (std::vector<std::string>{"starting " + std::to_string(image.size())}));
}

TEST_F(FirmwareTransfer, UnitThatStopsTakingDataFailsTheChunkAndAStopEndsTheWaitAtOnce) {
    Configure("mode=stall\nstall_after=10000");
    const std::string image = FirmwareImage(256 * 1024);
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(Send(image, 400).failed, TransferError::ChunkWrite);
    EXPECT_LT(::GetTickCount() - start, 3000u);

    // The same stall under the full limit, stopped by the observer after ten waits.
    m_line.Close();
    Configure("mode=stall\nstall_after=10000");
    ASSERT_TRUE(m_line.Open(m_portName));
    m_recorder = Recorder();
    m_recorder.stopAfterWaits = 10;
    const DWORD stopStart = ::GetTickCount();
    EXPECT_EQ(Send(image).failed, TransferError::Cancelled);
    EXPECT_LT(::GetTickCount() - stopStart, 3000u);
    EXPECT_EQ(m_recorder.waits, 10);
}

TEST_F(FirmwareTransfer, UnitThatGoesAwayFailsTheProgramCommandOrTheChunk) {
    Configure("mode=hangup\nhangup_after=0");
    EXPECT_EQ(Send(FirmwareImage(5000), 400).failed, TransferError::ProgramCommand);
    m_line.Close();

    Configure("mode=hangup\nhangup_after=6000");
    ASSERT_TRUE(m_line.Open(m_portName));
    m_recorder = Recorder();
    EXPECT_EQ(Send(FirmwareImage(1 << 20), 400).failed, TransferError::ChunkWrite);
}

// The end of the transfer on a line of its own that records its steps: the output drains
// before the transfer ends and before the line's settings go back.
class TransferDrain : public LineBench, public ::testing::WithParamInterface<DrainCase> {
  protected:
    TransferDrain() : LineBench(6) {}
    void SetUp() override { StartUnit(false); }
};

TEST_P(TransferDrain, OutputDrainsBeforeTheEndAndTheSettingsGoBackAfterIt) {
    TempFile file(FirmwareImage(GetParam().imageSize), ".ace");
    RunDrainCase(GetParam(), m_portName, file.Path());
}

INSTANTIATE_TEST_SUITE_P(Windows, TransferDrain, ::testing::ValuesIn(kDrainCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The guarded update on a port of its own: what it refuses and what the unit received then.
class GuardedUpdate : public LineBench, public ::testing::WithParamInterface<SessionCase> {
  protected:
    GuardedUpdate() : LineBench(6) {}
    void SetUp() override { StartUnit(false); }
};

TEST_P(GuardedUpdate, SendsOnlyTheCheckedBytesToTheCheckedUnit) {
    Configure(GetParam().behaviour);
    TempFile file(FirmwareImage(5000, "01", "06"), ".ace");
    RunSessionCase(GetParam(), m_portName, file.Path(), [this](size_t atLeast) {
        m_unit.WaitReceived(m_port, atLeast, atLeast ? 5000 : 300);
        return m_unit.Received(m_port);
    });
}

INSTANTIATE_TEST_SUITE_P(Windows, GuardedUpdate,
                         ::testing::ValuesIn(kSessionCases, kSessionCases + kSessionCaseCount),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
