// The equipment's two commands on a real port, against the simulated unit.
#include "support/ChildTest.h"
#include "support/UpdateBench.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class SendCommand : public UpdateBench {
  protected:
    void SetUp() override {
        UpdateBench::SetUp();
        Configure("reply=030C");
        ASSERT_TRUE(Dialog().OpenMasterPort(kPort));
        Dialog().m_portOpen = true;
    }

    // Sends Version into a buffer marked EE EE; returns the result, the buffer and the time.
    bool Version(BYTE (&reply)[2], DWORD* elapsed, DWORD replyLength = 2) {
        reply[0] = reply[1] = 0xEE;
        const DWORD start = ::GetTickCount();
        const bool ok = Dialog().SendCommand(Dialog().m_hComPort, ::Version, reply, replyLength);
        *elapsed = ::GetTickCount() - start;
        return ok;
    }
};

TEST_F(SendCommand, VersionReadsTheTwoReplyBytesWhenThePiecesComeInTime) {
    BYTE reply[2];
    DWORD elapsed = 0;
    EXPECT_TRUE(Version(reply, &elapsed));
    EXPECT_EQ(reply[0], 0x03);
    EXPECT_EQ(reply[1], 0x0C);
    // Only the low 8 bits of the length count.
    EXPECT_TRUE(Version(reply, &elapsed, 0x102));
    EXPECT_EQ(reply[1], 0x0C);

    Configure("reply=0405\nmode=split\nsplit_pause_ms=300");
    EXPECT_TRUE(Version(reply, &elapsed));
    EXPECT_EQ(reply[0], 0x04);
    EXPECT_EQ(reply[1], 0x05);
    EXPECT_GE(elapsed, 250u);
    EXPECT_EQ(ReceivedInAll(), "ver\rver\rver\r");
}

TEST_F(SendCommand, VersionFailsAfterOneReadLimitWithoutTheWholeReply) {
    for (const char* mode : {"mode=silent", "mode=one-byte"}) {
        Configure(std::string("reply=030C\n") + mode);
        BYTE reply[2];
        DWORD elapsed = 0;
        EXPECT_FALSE(Version(reply, &elapsed)) << mode;
        EXPECT_GE(elapsed, 450u) << mode;
        EXPECT_LT(elapsed, 1500u) << mode;
    }
}

TEST_F(SendCommand, NoPortFailsAtOnce) {
    BYTE reply[2] = {0xEE, 0xEE};
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(Dialog().SendCommand(INVALID_HANDLE_VALUE, ::Version, reply, 2));
    EXPECT_FALSE(Dialog().SendCommand(INVALID_HANDLE_VALUE, Program, nullptr, 0));
    EXPECT_LT(::GetTickCount() - start, 100u);
    EXPECT_EQ(reply[0], 0xEE);
}

TEST_F(SendCommand, ProgramSendsItsFourBytesAndOtherKindsNothing) {
    BYTE reply[2] = {0xEE, 0xEE};
    for (uint32_t kind : {2u, 3u, 0xFFFFFFFFu})
        EXPECT_TRUE(
            Dialog().SendCommand(Dialog().m_hComPort, static_cast<CommandKind>(kind), reply, 2))
            << kind;
    EXPECT_TRUE(Dialog().SendCommand(Dialog().m_hComPort, Program, nullptr, 0));
    EXPECT_EQ(reply[0], 0xEE);
    // Anything the other kinds had sent would have reached the unit before the program command.
    EXPECT_EQ(ReceivedInAll(), "pgm\r");
    EXPECT_EQ(EventCount("pgm"), 1);
}

// Runs alone in a fresh process, before anything could have used the reply buffer.
TEST(SharedReplyBuffer, DISABLED_FreshProcessStartsWithFFFF) {
    if (!InChildRun())
        GTEST_SKIP() << "started by ReplyBufferStartsAsFFFF";
    char report[16];
    std::snprintf(report, sizeof(report), "%02X %02X", g_deviceCommands.versionReply[0],
                  g_deviceCommands.versionReply[1]);
    WriteChildReport(report);
}

TEST(SharedReplyBuffer, StartsAsFFFFNextToBothCommandTexts) {
    const ChildRun child = RunChildTest("SharedReplyBuffer.DISABLED_FreshProcessStartsWithFFFF");
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.report, "FF FF");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_deviceCommands.program), 4), "pgm\r");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_deviceCommands.version), 4), "ver\r");
}

} // namespace
