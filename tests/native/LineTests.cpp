// The engine's line and transfer on Linux against the simulated unit on a pseudo-terminal: the
// termios line while "pgm\r" arrives, the settings put back however the transfer ends, the stall
// and hang-up rules, and a port another program holds.
#include "UnitBench.h"

#include "device/SerialLinePosix.h"
#include "support/FirmwareImage.h"
#include "support/LineSteps.h"
#include "support/SessionCases.h"
#include "update/FirmwareTransfer.h"

#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Follows the transfer: at "pgm\r" it reads the line's settings and keeps a second descriptor
// of the same port, to read back after the line's close what the close left on it.
class LineWatcher : public TransferObserver {
  public:
    LineWatcher(SerialLine& line, int stopAfterWaits) : m_line(line), m_stopAfter(stopAfterWaits) {}
    ~LineWatcher() { LetGo(); }

    bool Starting(std::uint32_t) override { return true; }
    bool Sending() override {
        m_watcher = ::dup(m_line.System().fd);
        sawLine = ::tcgetattr(m_watcher, &atProgram) == 0;
        return true;
    }
    bool Written(std::uint32_t, std::uint32_t) override { return true; }
    bool Waiting() override { return ++m_waits != m_stopAfter; }

    // The port's settings now, through the second descriptor.
    bool SettingsNow(termios& now) const {
        return m_watcher >= 0 && ::tcgetattr(m_watcher, &now) == 0;
    }

    void LetGo() {
        if (m_watcher >= 0)
            ::close(m_watcher);
        m_watcher = -1;
    }

    bool sawLine = false;
    termios atProgram{};

  private:
    SerialLine& m_line;
    int m_watcher = -1;
    int m_waits = 0;
    const int m_stopAfter;
};

struct EndCase {
    const char* name;
    const char* behaviour; // the unit's conf; xonxoff=1 stands for settings another program left
    const char* onceOpen;  // the unit's conf once the line is open, or nullptr
    size_t imageSize;
    std::uint32_t stallLimitMs;
    int stopAfterWaits; // -1: the observer never stops the transfer
    TransferError expected;
    size_t receivedBytes;       // of "pgm\r" and the file, in order
    std::uint32_t minMs, maxMs; // how long the transfer took
    bool lineOutlivesIt;        // false: the unit hung up, so there is no line to read back
};

void PrintTo(const EndCase& c, std::ostream* out) {
    *out << c.name;
}

class TransferEnd : public UnitBench, public ::testing::WithParamInterface<EndCase> {};

constexpr size_t kImage = 5000;
constexpr size_t kLarge = 256 * 1024;

const EndCase kEndCases[] = {
    {"Completes", "xonxoff=1", nullptr, kImage, kWriteStallLimitMs, -1, TransferError::None,
     4 + kImage, 0, 2000, true},
    {"UnitStopsReading", "xonxoff=1\nmode=stall\nstall_after=6000", nullptr, kLarge, 300, -1,
     TransferError::ChunkWrite, 6000, 300, 2000, true},
    {"ObserverStopsAStalledWrite", "xonxoff=1\nmode=stall\nstall_after=6000", nullptr, kLarge,
     kWriteStallLimitMs, 10, TransferError::Cancelled, 6000, 0, 2000, true},
    {"UnitHangsUpDuringTheFile", "mode=hangup\nhangup_after=6000", nullptr, kLarge,
     kWriteStallLimitMs, -1, TransferError::ChunkWrite, 6000, 0, 2000, false},
    {"UnitHangsUpAtOnce", "mode=normal", "mode=hangup\nhangup_after=0", kImage, kWriteStallLimitMs,
     -1, TransferError::ProgramCommand, 0, 0, 2000, false},
};

TEST_P(TransferEnd, LineIsTheUnitsWhileSendingAndTheFoundSettingsComeBack) {
    const EndCase& c = GetParam();
    Configure(c.behaviour);
    const std::string image = FirmwareImage(c.imageSize);
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Open(WriteFile(image).c_str()));
    ASSERT_TRUE(m_line.Open(s_unit.Port(kPort)));
    if (c.onceOpen)
        Configure(c.onceOpen);

    LineWatcher watcher(m_line, c.stopAfterWaits);
    const std::uint64_t start = NowMs();
    const TransferResult sent =
        SendFirmware(m_line, firmware, watcher, {kChunkSize, c.stallLimitMs});
    const std::uint64_t elapsed = NowMs() - start;
    EXPECT_EQ(sent.failed, c.expected);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LT(elapsed, c.maxMs);

    if (c.expected != TransferError::ProgramCommand) {
        ASSERT_TRUE(watcher.sawLine);
        const termios& line = watcher.atProgram;
        EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B460800));
        EXPECT_EQ(::cfgetispeed(&line), static_cast<speed_t>(B460800));
        EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
        EXPECT_EQ(line.c_cflag & (CRTSCTS | CREAD | CLOCAL),
                  static_cast<tcflag_t>(CRTSCTS | CREAD | CLOCAL));
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
        EXPECT_EQ(line.c_oflag & OPOST, 0u);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    }

    m_line.Close();
    if (c.lineOutlivesIt) {
        termios after{};
        ASSERT_TRUE(watcher.SettingsNow(after));
        // The simulator's fresh line: its speed, no flow control but XON/XOFF.
        EXPECT_NE(::cfgetospeed(&after), static_cast<speed_t>(B460800));
        EXPECT_EQ(after.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(after.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    }
    if (c.lineOutlivesIt) {
        // Once the watcher lets go too, the unit reports the line as the close left it.
        watcher.LetGo();
        EXPECT_TRUE(s_unit.WaitEvent(kPort, "close"));
        EXPECT_NE(s_unit.Events(kPort).find("xonxoff=1"), std::string::npos);
    } else {
        EXPECT_TRUE(s_unit.WaitEvent(kPort, "hangup"));
    }
    EXPECT_TRUE(s_unit.Received(kPort) == ("pgm\r" + image).substr(0, c.receivedBytes))
        << s_unit.Received(kPort).size() << " bytes received; events:\n"
        << s_unit.Events(kPort);
}

INSTANTIATE_TEST_SUITE_P(Native, TransferEnd, ::testing::ValuesIn(kEndCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The end of the transfer on a line of its own that records its steps: the output drains
// before the transfer ends and before the line's settings go back.
class TransferDrain : public UnitBench, public ::testing::WithParamInterface<DrainCase> {};

TEST_P(TransferDrain, OutputDrainsBeforeTheEndAndTheSettingsGoBackAfterIt) {
    RunDrainCase(GetParam(), s_unit.Port(kPort), WriteFile(FirmwareImage(GetParam().imageSize)));
}

INSTANTIATE_TEST_SUITE_P(Native, TransferDrain, ::testing::ValuesIn(kDrainCases),
                         [](const auto& info) { return std::string(info.param.name); });

class HeldPort : public UnitBench {};

TEST_F(HeldPort, IsRefusedAndNeitherItsLineNorTheUnitIsTouched) {
    // Another program has the unit's pty open and locked, as a terminal program that locks does.
    char target[256] = {};
    ASSERT_GT(::readlink(s_unit.Port(kPort).c_str(), target, sizeof(target) - 1), 0);
    const int holder = ::open(target, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    termios before{};
    ASSERT_EQ(::tcgetattr(holder, &before), 0);

    const LineResult opened = m_line.Open(target);
    EXPECT_EQ(opened.failed, LineError::Open);
    EXPECT_EQ(opened.systemError, EBUSY);
    EXPECT_FALSE(m_line.IsOpen());
    EXPECT_EQ(m_line.WriteWithTimeout("pgm\r", 4, 1000).failed, LineError::NotOpen);
    m_line.Close();

    termios after{};
    ASSERT_EQ(::tcgetattr(holder, &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    ::close(holder);
    EXPECT_TRUE(s_unit.WaitEvent(kPort, "close"));
    EXPECT_EQ(s_unit.Received(kPort), "");
}

} // namespace

namespace {

// The guarded update over the same unit: what it refuses and what the unit received then.
class GuardedUpdate : public UnitBench, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(GuardedUpdate, SendsOnlyTheCheckedBytesToTheCheckedUnit) {
    Configure(GetParam().behaviour);
    RunSessionCase(GetParam(), s_unit.Port(kPort), WriteFile(FirmwareImage(5000, "01", "06")),
                   [](size_t atLeast) {
                       s_unit.WaitReceived(kPort, atLeast,
                                           NativeSimEquipment::Millis(atLeast ? 5000 : 300));
                       return s_unit.Received(kPort);
                   });
}

INSTANTIATE_TEST_SUITE_P(Native, GuardedUpdate,
                         ::testing::ValuesIn(kSessionCases, kSessionCases + kSessionCaseCount),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
