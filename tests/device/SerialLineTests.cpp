// The serial line against the simulated unit on a pseudo-terminal: no window involved.
#include "device/SerialLineWin.h"
#include "support/LineBench.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DCB StateOf(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    EXPECT_TRUE(::GetCommState(port, &dcb));
    return dcb;
}

// A duplicate of the line's handle keeps the same port open past the line's close, to read
// back what the close left on it.
HANDLE Duplicate(HANDLE port) {
    HANDLE copy = nullptr;
    EXPECT_TRUE(::DuplicateHandle(::GetCurrentProcess(), port, ::GetCurrentProcess(), &copy, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS));
    return copy;
}

class Line : public LineBench {
  protected:
    Line() : LineBench(7) {}
    void SetUp() override {
        StartUnit(false);
        Configure("reply=030C");
    }
    void Ask() { ASSERT_TRUE(m_line.WriteWithTimeout("ver\r", 4, 5000)); }
    void OpenAndAsk() {
        ASSERT_TRUE(m_line.Open(m_portName));
        Ask();
    }
};

TEST_F(Line, OpenAppliesTheUnitsLineAndCloseRestoresWhatWasFound) {
    ASSERT_TRUE(m_line.Open(m_portName));
    // What the driver reported at open: the simulator's fresh line, without flow control.
    const DCB saved = m_line.System().saved;
    EXPECT_NE(saved.DCBlength, 0u);
    EXPECT_NE(saved.BaudRate, 460800u);
    EXPECT_EQ(saved.fOutxCtsFlow, 0u);

    const DCB line = StateOf(m_line.System().port);
    EXPECT_EQ(line.BaudRate, 460800u);
    EXPECT_EQ(line.fOutxCtsFlow, 1u);
    // Wine reports the RTS side of hardware flow control as RTS_CONTROL_ENABLE.
    EXPECT_NE(line.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);

    HANDLE watcher = Duplicate(m_line.System().port);
    m_line.Close();
    EXPECT_FALSE(m_line.IsOpen());
    EXPECT_EQ(m_line.System().saved.DCBlength, 0u);
    const DCB restored = StateOf(watcher);
    ::CloseHandle(watcher);
    EXPECT_EQ(restored.BaudRate, saved.BaudRate);
    EXPECT_EQ(restored.fOutxCtsFlow, saved.fOutxCtsFlow);
    EXPECT_EQ(restored.fRtsControl, saved.fRtsControl);
}

bool SameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
           a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
           a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
           a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
           a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

TEST_F(Line, TimeOutsAreTheLinesWhileOpenAndThoseFoundComeBackAtClose) {
    // A Windows driver keeps the time-outs another program set; Wine starts every open with
    // none. So the line is told it found them as Windows would show them after that program: a
    // write time-out of 50 ms, which would end any write the unit holds up longer.
    const COMMTIMEOUTS leftBehind{0, 10, 200, 1, 50};
    ASSERT_TRUE(m_line.Open(m_portName));
    m_line.System().savedTimeouts = leftBehind;

    // Writes have no time-out of the driver's (the stall limit bounds them); a read pass takes
    // what has arrived and returns.
    COMMTIMEOUTS open{};
    ASSERT_TRUE(::GetCommTimeouts(m_line.System().port, &open));
    EXPECT_TRUE(SameTimeouts(open, COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}));

    HANDLE watcher = Duplicate(m_line.System().port);
    m_line.Close();
    COMMTIMEOUTS restored{};
    EXPECT_TRUE(::GetCommTimeouts(watcher, &restored));
    ::CloseHandle(watcher);
    EXPECT_TRUE(SameTimeouts(restored, leftBehind));
}

TEST_F(Line, XonXoffLeftOnByAnotherProgramEatsNoReplyByteAndComesBackAtClose) {
    Configure("reply=130C\nxonxoff=1");
    ASSERT_TRUE(m_line.Open(m_portName));
    EXPECT_EQ(m_line.System().saved.fOutX, 1u);
    EXPECT_EQ(m_line.System().saved.fInX, 1u);
    const DCB line = StateOf(m_line.System().port);
    EXPECT_EQ(line.fOutX, 0u);
    EXPECT_EQ(line.fInX, 0u);

    // 0x13 is XOFF and 0x11 XON; a version byte of 0 would be lost to NUL stripping.
    struct Case {
        const char* reply;
        BYTE first;
        BYTE second;
    };
    for (const Case& c :
         {Case{"130C", 0x13, 0x0C}, Case{"110C", 0x11, 0x0C}, Case{"0300", 0x03, 0x00}}) {
        Configure(std::string("xonxoff=1\nreply=") + c.reply);
        Ask();
        BYTE bytes[2] = {0xEE, 0xEE};
        EXPECT_TRUE(m_line.ReadWithTimeout(bytes, 2, 500)) << c.reply;
        EXPECT_EQ(bytes[0], c.first) << c.reply;
        EXPECT_EQ(bytes[1], c.second) << c.reply;
    }

    HANDLE watcher = Duplicate(m_line.System().port);
    m_line.Close();
    const DCB restored = StateOf(watcher);
    ::CloseHandle(watcher);
    EXPECT_EQ(restored.fOutX, 1u);
    EXPECT_EQ(restored.fInX, 1u);
}

TEST_F(Line, PortsAbove127AreRealPortsAndMissingPortsFailToOpen) {
    SimEquipment high;
    ASSERT_TRUE(high.Start({130})) << high.Error();
    ASSERT_TRUE(high.Configure(130, "reply=0405")) << high.Error();
    ASSERT_TRUE(m_line.Open("COM130"));
    ASSERT_TRUE(m_line.WriteWithTimeout("ver\r", 4, 5000));
    BYTE reply[2] = {};
    EXPECT_TRUE(m_line.ReadWithTimeout(reply, 2, 500));
    EXPECT_EQ(reply[1], 0x05);
    m_line.Close();

    for (const char* port : {"COM255", "COM256", ""}) {
        EXPECT_EQ(m_line.Open(port).failed, LineError::Open) << port;
        EXPECT_FALSE(m_line.IsOpen());
        EXPECT_EQ(m_line.System().saved.DCBlength, 0u);
    }
}

TEST_F(Line, SplitReplySucceedsWhileEachPieceComesWithinTheLimit) {
    Configure("reply=030C\nmode=split\nsplit_pause_ms=300");
    OpenAndAsk();
    BYTE reply[2] = {};
    const DWORD start = ::GetTickCount();
    EXPECT_TRUE(m_line.ReadWithTimeout(reply, 2, 500));
    EXPECT_GE(::GetTickCount() - start, 250u);
    EXPECT_EQ(reply[1], 0x0C);

    // A pause longer than the limit fails, with the first byte already in the buffer.
    Configure("reply=030C\nmode=split\nsplit_pause_ms=900");
    Ask();
    BYTE late[2] = {0xEE, 0xEE};
    EXPECT_EQ(m_line.ReadWithTimeout(late, 2, 500).failed, LineError::Read);
    EXPECT_EQ(late[0], 0x03);
    EXPECT_EQ(late[1], 0xEE);
}

TEST_F(Line, SilentOrHalfAnsweringUnitFailsAfterOneLimit) {
    ASSERT_TRUE(m_line.Open(m_portName));
    for (const char* mode : {"mode=silent", "mode=one-byte"}) {
        Configure(std::string("reply=030C\n") + mode);
        Ask();
        BYTE reply[2] = {};
        const DWORD start = ::GetTickCount();
        EXPECT_FALSE(m_line.ReadWithTimeout(reply, 2, 500)) << mode;
        const DWORD elapsed = ::GetTickCount() - start;
        EXPECT_GE(elapsed, 450u) << mode;
        EXPECT_LT(elapsed, 1500u) << mode;
    }
}

TEST_F(Line, NoPortFailsAtOnce) {
    std::uint32_t written = 7;
    BYTE reply[2] = {};
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(m_line.WriteWithTimeout("ver\r", 4, 5000, {}, &written).failed, LineError::NotOpen);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(m_line.ReadWithTimeout(reply, 2, 500).failed, LineError::NotOpen);
    EXPECT_LT(::GetTickCount() - start, 100u);
}

TEST_F(Line, TimedOutReadLeavesNothingPending) {
    Configure("reply=030C\nmode=silent");
    OpenAndAsk();
    BYTE abandoned[2] = {0xEE, 0xEE};
    ASSERT_FALSE(m_line.ReadWithTimeout(abandoned, 2, 500));

    // The reply that comes now goes to the next read, not into the abandoned buffer.
    Configure("reply=0405");
    Ask();
    BYTE reply[2] = {};
    EXPECT_TRUE(m_line.ReadWithTimeout(reply, 2, 500));
    EXPECT_EQ(reply[0], 0x04);
    EXPECT_EQ(reply[1], 0x05);
    EXPECT_EQ(abandoned[0], 0xEE);
    EXPECT_EQ(abandoned[1], 0xEE);
}

TEST_F(Line, ReadsAreBoundedWhenTheDriverReturnsAtOnce) {
    ASSERT_TRUE(m_line.Open(m_portName));
    // These driver settings make every read pass return at once, with whatever is there.
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(::SetCommTimeouts(m_line.System().port, &immediate));
    BYTE reply[2] = {};

    Configure("reply=030C\nmode=silent");
    Ask();
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(m_line.ReadWithTimeout(reply, 2, 500));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 450u);
    EXPECT_LT(elapsed, 1500u);

    // A reply that arrives within the limit is still read.
    Configure("reply=030C\nmode=split\nsplit_pause_ms=200");
    Ask();
    EXPECT_TRUE(m_line.ReadWithTimeout(reply, 2, 500));
    EXPECT_EQ(reply[0], 0x03);
    EXPECT_EQ(reply[1], 0x0C);
}

TEST_F(Line, StalledWriteEndsAtItsLimitAndThePortStillCloses) {
    Configure("mode=stall\nstall_after=0");
    ASSERT_TRUE(m_line.Open(m_portName));
    const std::string block(256 * 1024, 'x');
    std::uint32_t written = 0;
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(m_line
                  .WriteWithTimeout(block.data(), static_cast<std::uint32_t>(block.size()), 400, {},
                                    &written)
                  .failed,
              LineError::Stalled);
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 350u);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_LT(written, block.size());
    m_line.Close();
    EXPECT_FALSE(m_line.IsOpen());
}

TEST_F(Line, SlowButSteadyUnitTakesAWriteLongerThanTheStallLimit) {
    // The unit reads 10000 bytes a second. The pseudo-terminal takes about 20 KiB at once and
    // lets the writer on only once it has drained, about every 2 s: 64 KiB take over 4 s in
    // all, well past the 3 s stall limit, while the unit never stops taking data.
    Configure("mode=paced\npaced_rate=10000");
    ASSERT_TRUE(m_line.Open(m_portName));
    std::string data(64 * 1024, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    std::uint32_t written = 0;
    const DWORD start = ::GetTickCount();
    const LineResult result = m_line.WriteWithTimeout(
        data.data(), static_cast<std::uint32_t>(data.size()), 3000, {}, &written);
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_TRUE(result) << static_cast<int>(result.failed) << " after " << written;
    EXPECT_GT(elapsed, 3000u);
    EXPECT_EQ(written, data.size());
    // Every byte once, in order.
    EXPECT_TRUE(ReceivedInAll() == data);
}

TEST_F(Line, WaitHookRunsWhileAWriteIsPendingAndCanCancelIt) {
    Configure("mode=stall\nstall_after=0");
    ASSERT_TRUE(m_line.Open(m_portName));
    const std::string block(256 * 1024, 'x');
    int calls = 0;
    const DWORD start = ::GetTickCount();
    const LineResult result = m_line.WriteWithTimeout(
        block.data(), static_cast<DWORD>(block.size()), 30000, [&] { return ++calls < 10; });
    EXPECT_EQ(result.failed, LineError::Cancelled);
    EXPECT_EQ(calls, 10);
    EXPECT_LT(::GetTickCount() - start, 2000u);
}

} // namespace
