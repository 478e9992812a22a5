// The unit's two commands on a real port, against the simulated unit.
#include "device/UnitCommands.h"
#include "support/LineBench.h"

#include <gtest/gtest.h>

namespace {

class Commands : public LineBench {
  protected:
    Commands() : LineBench(7) {}
    void SetUp() override {
        StartUnit(true);
        Configure("reply=030C");
    }
    // Sends Version into a buffer marked EE EE; returns the result and the time taken.
    bool Version(BYTE (&reply)[2], DWORD* elapsed, DWORD replyLength = 2) {
        reply[0] = reply[1] = 0xEE;
        const DWORD start = ::GetTickCount();
        const bool ok = static_cast<bool>(SendCommand(m_line, ::Version, reply, replyLength));
        *elapsed = ::GetTickCount() - start;
        return ok;
    }
};

TEST_F(Commands, VersionReadsTheTwoReplyBytesWhenThePiecesComeInTime) {
    BYTE reply[2];
    DWORD elapsed = 0;
    EXPECT_TRUE(Version(reply, &elapsed));
    EXPECT_EQ(reply[0], 0x03);
    EXPECT_EQ(reply[1], 0x0C);
    // Only the low 8 bits of the length count.
    EXPECT_TRUE(Version(reply, &elapsed, 0x102));
    EXPECT_EQ(reply[1], 0x0C);

    Configure("reply=0405\nmode=split\nsplit_pause_ms=300");
    VersionReply answer;
    const DWORD start = ::GetTickCount();
    EXPECT_TRUE(QueryVersion(m_line, answer));
    EXPECT_GE(::GetTickCount() - start, 250u);
    EXPECT_EQ(answer.deviceId, 0x04);
    EXPECT_EQ(answer.version, 0x05);
    EXPECT_EQ(ReceivedInAll(), "ver\rver\rver\r");
}

TEST_F(Commands, VersionFailsAfterOneReadLimitWithoutTheWholeReply) {
    for (const char* mode : {"mode=silent", "mode=one-byte"}) {
        Configure(std::string("reply=030C\n") + mode);
        VersionReply answer;
        const DWORD start = ::GetTickCount();
        EXPECT_EQ(QueryVersion(m_line, answer).failed, LineError::Read) << mode;
        const DWORD elapsed = ::GetTickCount() - start;
        EXPECT_GE(elapsed, 450u) << mode;
        EXPECT_LT(elapsed, 1500u) << mode;
        // A failed query leaves what was known before.
        EXPECT_EQ(answer.deviceId, 0xFF);
        EXPECT_EQ(answer.version, 0xFF);
    }
}

TEST_F(Commands, NoPortFailsAtOnce) {
    SerialLine closed;
    BYTE reply[2] = {0xEE, 0xEE};
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(SendCommand(closed, ::Version, reply, 2).failed, LineError::NotOpen);
    EXPECT_EQ(SendCommand(closed, Program, nullptr, 0).failed, LineError::NotOpen);
    EXPECT_LT(::GetTickCount() - start, 100u);
    EXPECT_EQ(reply[0], 0xEE);
}

TEST_F(Commands, ProgramSendsItsFourBytesAndOtherKindsNothing) {
    BYTE reply[2] = {0xEE, 0xEE};
    for (uint32_t kind : {2u, 3u, 0xFFFFFFFFu})
        EXPECT_TRUE(SendCommand(m_line, static_cast<CommandKind>(kind), reply, 2)) << kind;
    EXPECT_TRUE(SendCommand(m_line, Program, nullptr, 0));
    EXPECT_EQ(reply[0], 0xEE);
    // Anything the other kinds had sent would have reached the unit before the program command.
    EXPECT_EQ(ReceivedInAll(), "pgm\r");
    EXPECT_EQ(SimEquipment::CountEventLines(m_unit.Events(m_port), "pgm"), 1);
}

} // namespace
