// The Master COM port against the simulated equipment on a pseudo-terminal.
#include "SimEquipment.h"
#include "support/DialogHarness.h"

#include <gtest/gtest.h>

namespace {

constexpr int kPort = 7;

class SerialPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_equipment.Start({kPort})) << m_equipment.Error();
        ASSERT_TRUE(m_equipment.Configure(kPort, "reply=030C")) << m_equipment.Error();
    }

    CUpdateUtilityDlg& Dialog() { return m_harness.Dialog(); }
    MessageBoxWatcher& Boxes() { return m_harness.Boxes(); }

    static DCB StateOf(HANDLE port) {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        EXPECT_TRUE(::GetCommState(port, &dcb));
        return dcb;
    }

    DialogHarness m_harness;
    SimEquipment m_equipment;
};

TEST_F(SerialPort, OpenAppliesTheLineSettingsAndCloseRestoresTheSavedOnes) {
    ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
    // What the driver reported at open: the simulator's fresh line, without flow control.
    const DCB saved = Dialog().m_savedDcb;
    EXPECT_NE(saved.DCBlength, 0u);
    EXPECT_NE(saved.BaudRate, 460800u);
    EXPECT_EQ(saved.fOutxCtsFlow, 0u);

    const DCB line = StateOf(Dialog().m_hComPort);
    EXPECT_EQ(line.BaudRate, 460800u);
    EXPECT_EQ(line.fOutxCtsFlow, 1u);
    // Wine reports the RTS side of hardware flow control as RTS_CONTROL_ENABLE.
    EXPECT_NE(line.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);

    // A duplicate of the tool's handle keeps the same line open past the close, to read back
    // what the close left on it.
    HANDLE watcher = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), Dialog().m_hComPort, ::GetCurrentProcess(),
                                  &watcher, 0, FALSE, DUPLICATE_SAME_ACCESS));
    Dialog().CloseMasterPort();
    EXPECT_EQ(Dialog().m_hComPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Dialog().m_savedDcb.DCBlength, 0u);
    const DCB restored = StateOf(watcher);
    ::CloseHandle(watcher);
    EXPECT_EQ(restored.BaudRate, saved.BaudRate);
    EXPECT_EQ(restored.fOutxCtsFlow, saved.fOutxCtsFlow);
    EXPECT_EQ(restored.fRtsControl, saved.fRtsControl);
    EXPECT_TRUE(Boxes().Shown().empty());
}

TEST_F(SerialPort, PortByte255NamesNoPort) {
    const DCB before = Dialog().m_savedDcb;
    EXPECT_FALSE(Dialog().OpenMasterPort(static_cast<signed char>(255)));
    EXPECT_EQ(Dialog().m_hComPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Dialog().m_savedDcb.DCBlength, before.DCBlength);
    EXPECT_EQ(Boxes().Texts(), std::vector<std::string>{"Error opening Master COM port"});
    EXPECT_EQ(m_harness.Text(1015), "Error opening Master COM port");
}

TEST_F(SerialPort, VersionExchangeWritesAndReads) {
    ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
    DWORD written = 0;
    EXPECT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
    EXPECT_EQ(written, 4u);
    BYTE reply[2] = {0xEE, 0xEE};
    EXPECT_TRUE(Dialog().ReadWithTimeout(Dialog().m_hComPort, reply, 2, 500));
    EXPECT_EQ(reply[0], 0x03);
    EXPECT_EQ(reply[1], 0x0C);
    ASSERT_TRUE(m_equipment.WaitReceived(kPort, 4));
    EXPECT_EQ(m_equipment.Received(kPort), "ver\r");
    Dialog().CloseMasterPort();
}

TEST_F(SerialPort, SplitReplySucceedsWhileEachPieceComesWithinTheLimit) {
    ASSERT_TRUE(m_equipment.Configure(kPort, "reply=030C\nmode=split\nsplit_pause_ms=300"));
    ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
    DWORD written = 0;
    ASSERT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
    BYTE reply[2] = {};
    const DWORD start = ::GetTickCount();
    EXPECT_TRUE(Dialog().ReadWithTimeout(Dialog().m_hComPort, reply, 2, 500));
    EXPECT_GE(::GetTickCount() - start, 250u);
    EXPECT_EQ(reply[1], 0x0C);

    // A pause longer than the limit fails, with the first byte already in the buffer.
    ASSERT_TRUE(m_equipment.Configure(kPort, "reply=030C\nmode=split\nsplit_pause_ms=900"));
    ASSERT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
    BYTE late[2] = {0xEE, 0xEE};
    EXPECT_FALSE(Dialog().ReadWithTimeout(Dialog().m_hComPort, late, 2, 500));
    EXPECT_EQ(late[0], 0x03);
    EXPECT_EQ(late[1], 0xEE);
    Dialog().CloseMasterPort();
}

TEST_F(SerialPort, SilentOrHalfAnsweringEquipmentFailsAfterOneLimit) {
    for (const char* mode : {"mode=silent", "mode=one-byte"}) {
        ASSERT_TRUE(m_equipment.Configure(kPort, std::string("reply=030C\n") + mode));
        ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
        DWORD written = 0;
        ASSERT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
        BYTE reply[2] = {};
        const DWORD start = ::GetTickCount();
        EXPECT_FALSE(Dialog().ReadWithTimeout(Dialog().m_hComPort, reply, 2, 500)) << mode;
        const DWORD elapsed = ::GetTickCount() - start;
        EXPECT_GE(elapsed, 450u) << mode;
        EXPECT_LT(elapsed, 1500u) << mode;
        Dialog().CloseMasterPort();
    }
}

TEST_F(SerialPort, InvalidHandleFailsAtOnce) {
    DWORD written = 7;
    BYTE reply[2] = {};
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(Dialog().WriteWithTimeout(INVALID_HANDLE_VALUE, "ver\r", 4, &written, 5000));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(Dialog().ReadWithTimeout(INVALID_HANDLE_VALUE, reply, 2, 500));
    EXPECT_LT(::GetTickCount() - start, 100u);
}

TEST_F(SerialPort, TimedOutReadLeavesNothingPending) {
    ASSERT_TRUE(m_equipment.Configure(kPort, "reply=030C\nmode=silent"));
    ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
    DWORD written = 0;
    ASSERT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
    BYTE abandoned[2] = {0xEE, 0xEE};
    ASSERT_FALSE(Dialog().ReadWithTimeout(Dialog().m_hComPort, abandoned, 2, 500));

    // The reply that comes now goes to the next read, not into the abandoned buffer.
    ASSERT_TRUE(m_equipment.Configure(kPort, "reply=0405"));
    ASSERT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
    BYTE reply[2] = {};
    EXPECT_TRUE(Dialog().ReadWithTimeout(Dialog().m_hComPort, reply, 2, 500));
    EXPECT_EQ(reply[0], 0x04);
    EXPECT_EQ(reply[1], 0x05);
    EXPECT_EQ(abandoned[0], 0xEE);
    EXPECT_EQ(abandoned[1], 0xEE);
    Dialog().CloseMasterPort();
}

TEST_F(SerialPort, ReadsAreBoundedWhenTheDriverReturnsAtOnce) {
    ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
    // These driver settings make every read pass return at once, with whatever is there.
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(::SetCommTimeouts(Dialog().m_hComPort, &immediate));
    DWORD written = 0;
    BYTE reply[2] = {};

    ASSERT_TRUE(m_equipment.Configure(kPort, "reply=030C\nmode=silent"));
    ASSERT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(Dialog().ReadWithTimeout(Dialog().m_hComPort, reply, 2, 500));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 450u);
    EXPECT_LT(elapsed, 1500u);

    // A reply that arrives within the limit is still read.
    ASSERT_TRUE(m_equipment.Configure(kPort, "reply=030C\nmode=split\nsplit_pause_ms=200"));
    ASSERT_TRUE(Dialog().WriteWithTimeout(Dialog().m_hComPort, "ver\r", 4, &written, 5000));
    EXPECT_TRUE(Dialog().ReadWithTimeout(Dialog().m_hComPort, reply, 2, 500));
    EXPECT_EQ(reply[0], 0x03);
    EXPECT_EQ(reply[1], 0x0C);
    Dialog().CloseMasterPort();
}

TEST_F(SerialPort, StalledWriteEndsAtItsLimitAndThePortStillCloses) {
    ASSERT_TRUE(m_equipment.Configure(kPort, "mode=stall\nstall_after=0"));
    ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
    const std::string block(256 * 1024, 'x');
    DWORD written = 0;
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(Dialog().WriteWithTimeout(Dialog().m_hComPort, block.data(),
                                           static_cast<DWORD>(block.size()), &written, 400));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 350u);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_LT(written, block.size());
    Dialog().CloseMasterPort();
    EXPECT_EQ(Dialog().m_hComPort, INVALID_HANDLE_VALUE);
}

TEST_F(SerialPort, ClosingWithNothingOpenOnlyPauses) {
    const DWORD start = ::GetTickCount();
    Dialog().CloseMasterPort();
    EXPECT_GE(::GetTickCount() - start, 45u); // the tick count moves in steps
    EXPECT_EQ(Dialog().m_hComPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Dialog().m_savedDcb.DCBlength, 0u);
}

} // namespace
