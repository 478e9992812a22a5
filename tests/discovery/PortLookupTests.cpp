// The COM port lookups, against keys written into Wine's registry as the USB driver (NT layout)
// and the bridge driver (9x layout) write them.
#include "discovery/PortLookup.h"
#include "support/RegistryKeys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const std::string kUsb = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
// VID 0x0A0B, PID 0x00FF, serial "ab 1" in both layouts.
const std::string kInterfaceForm = kUsb + "Vid_0a0b&Pid_00ff&Mi_00\\ab_1_00\\Device Parameters";
const std::string kPlainForm = kUsb + "Vid_0a0b&Pid_00ff\\ab_1\\Device Parameters";
const std::string kDeviceId = "USB\\VID_0A0B&PID_00FF&MI_00\\AB_1_00";

std::string Numbered(int index) {
    char name[64];
    std::snprintf(name, sizeof(name), "Enum\\SLABCR\\guid\\%04d", index);
    return name;
}

struct LookupCall {
    bool legacy;
    WORD vid;
    WORD pid;
    char* serial;
    int result;
};

DWORD WINAPI RunLookup(void* context) {
    auto* call = static_cast<LookupCall*>(context);
    call->result = call->legacy ? LookUpPortNameLegacy(call->vid, call->pid, call->serial)
                                : LookUpPortName(call->vid, call->pid, call->serial);
    return 0;
}

class PortLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_keys.Exists(kUsb)) << "left over from an earlier test";
        ASSERT_FALSE(m_keys.Exists("Enum\\SLABCR")) << "left over from an earlier test";
    }
    // Runs one lookup on a thread of its own, so that a scan that never ends fails the test
    // instead of hanging it, and checks that every key it opened is closed again.
    int Lookup(bool legacy, WORD vid, WORD pid, char* serial) {
        const int keysBefore = OpenRegistryKeyCount();
        EXPECT_GE(keysBefore, 0) << "open registry keys cannot be counted";
        LookupCall call{legacy, vid, pid, serial, -2};
        HANDLE thread = ::CreateThread(nullptr, 0, RunLookup, &call, 0, nullptr);
        const DWORD wait = ::WaitForSingleObject(thread, 5000);
        if (wait != WAIT_OBJECT_0) {
            // It would otherwise write its result into this frame after it is gone.
            ::TerminateThread(thread, 1);
            ::CloseHandle(thread);
            ADD_FAILURE() << "the lookup did not end within 5 s";
            return -2;
        }
        ::CloseHandle(thread);
        EXPECT_EQ(OpenRegistryKeyCount(), keysBefore) << "a key was left open";
        return call.result;
    }
    int Nt(char* serial, WORD vid = 0x0A0B, WORD pid = 0x00FF) {
        return Lookup(false, vid, pid, serial);
    }
    int Legacy(char* serial, WORD vid = 0x0A0B, WORD pid = 0x00FF) {
        return Lookup(true, vid, pid, serial);
    }

    RegistryKeys m_keys;
};

using NtPortLookup = PortLookup;
using LegacyPortLookup = PortLookup;

TEST_F(NtPortLookup, InterfaceFormTakesZeroPaddedIdsAndTheSerialWithUnderscores) {
    ASSERT_TRUE(m_keys.SetText(kInterfaceForm, "PortName", "COM7"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Nt(serial), 7);
}

TEST_F(NtPortLookup, PlainFormServesWhenTheInterfaceFormIsAbsent) {
    ASSERT_TRUE(m_keys.SetText(kPlainForm, "PortName", "COM9"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Nt(serial), 9);
}

TEST_F(NtPortLookup, InterfaceFormWithoutPortNameHidesThePlainForm) {
    ASSERT_TRUE(m_keys.SetText(kPlainForm, "PortName", "COM9"));
    ASSERT_TRUE(m_keys.SetText(kInterfaceForm, "FriendlyName", "COM9"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Nt(serial), -1);
}

TEST_F(NtPortLookup, NoKeyOfTheBridgeGivesNoPort) {
    char serial[64] = "ab 1";
    EXPECT_EQ(Nt(serial), -1); // not even "Enum\USB\"

    // Other bridges' keys, and this bridge's keys under the other IDs.
    ASSERT_TRUE(m_keys.SetText(kUsb + "Vid_0a0b&Pid_00ff&Mi_00\\ab_2_00\\Device Parameters",
                               "PortName", "COM5"));
    ASSERT_TRUE(
        m_keys.SetText(kUsb + "Vid_0a0b&Pid_00fe\\ab_1\\Device Parameters", "PortName", "COM6"));
    ASSERT_TRUE(m_keys.SetText(kUsb + "Vid_a0b&Pid_ff&Mi_00\\ab_1_00\\Device Parameters",
                               "PortName", "COM8"));
    std::strcpy(serial, "ab 1");
    EXPECT_EQ(Nt(serial), -1);
}

TEST_F(NtPortLookup, PortNameGivesTheNumberAfterItsFirstThreeCharacters) {
    const struct {
        const char* label;
        std::string data;
        DWORD type;
        int port;
    } cases[] = {
        {"COM7", std::string("COM7", 5), REG_SZ, 7},
        {"COM10", std::string("COM10", 6), REG_SZ, 10},
        {"COM", std::string("COM", 4), REG_SZ, 0},
        {"two characters", std::string("CO", 3), REG_SZ, -1},
        {"empty", std::string(1, '\0'), REG_SZ, -1},
        // The registry type is not looked at; these values carry no NUL.
        {"unterminated", "COM12", REG_BINARY, 12},
        {"unterminated, 100 bytes", "COM7" + std::string(96, 'x'), REG_BINARY, 7},
        {"101 bytes, more than is asked for", "COM7" + std::string(97, 'x'), REG_BINARY, -1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_keys.SetBytes(kInterfaceForm, "PortName", c.data, c.type));
        char serial[64] = "ab 1";
        EXPECT_EQ(Nt(serial), c.port) << c.label;
    }
}

TEST(PortNameRule, TerminatesInsideTheValueBufferWhateverSizeIsReported) {
    constexpr size_t kGuard = 1024;
    char area[kGuard + kValueBufferSize + kGuard];
    std::memset(area, 'G', sizeof(area));
    char* value = area + kGuard;
    std::memset(value, '9', kValueBufferSize); // digits left over from an earlier value
    std::memcpy(value, "COM12", 5);

    EXPECT_EQ(PortNumberFromName(value, 5), 12);
    std::memcpy(value, "COM12", 5); // the rule overwrote its first three bytes
    std::memset(value + 5, 'x', kValueBufferSize - 5);
    EXPECT_EQ(PortNumberFromName(value, 100), 12);
    EXPECT_EQ(PortNumberFromName(value, 1000), 12);
    EXPECT_EQ(std::count(area, value, 'G'), static_cast<long long>(kGuard))
        << "bytes before the buffer were written";
    const char* after = value + kValueBufferSize;
    EXPECT_EQ(std::count(after, after + kGuard, 'G'), static_cast<long long>(kGuard))
        << "bytes after the buffer were written";
}

TEST_F(LegacyPortLookup, ExpectsUpperCaseIdsAndSerial) {
    ASSERT_TRUE(m_keys.SetText(Numbered(0), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(0), "Portname", "COM7"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Legacy(serial), 7);
}

TEST_F(LegacyPortLookup, IdDifferingOnlyInLetterCaseDoesNotMatch) {
    for (const char* id :
         {"USB\\VID_0a0b&PID_00ff&MI_00\\AB_1_00", "USB\\VID_0A0B&PID_00FF&MI_00\\ab_1_00",
          "usb\\vid_0a0b&pid_00ff&mi_00\\AB_1_00"}) {
        RegistryKeys keys;
        ASSERT_TRUE(keys.SetText(Numbered(0), "CRLowerDeviceID", id));
        ASSERT_TRUE(keys.SetText(Numbered(0), "Portname", "COM7"));
        char serial[64] = "ab 1";
        EXPECT_EQ(Legacy(serial), -1) << id;
    }
}

TEST_F(LegacyPortLookup, ScanEndsAtTheFirstMissingIndex) {
    ASSERT_TRUE(m_keys.Create(Numbered(0))); // no values: passed over
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "Portname", "COM6"));
    ASSERT_TRUE(m_keys.SetText(Numbered(3), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(3), "Portname", "COM9"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Legacy(serial), 6);
}

TEST_F(LegacyPortLookup, WithoutTheFirstIndexNothingIsScanned) {
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "Portname", "COM6"));
    ASSERT_TRUE(m_keys.SetText(Numbered(2), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(2), "Portname", "COM9"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Legacy(serial), -1);
}

TEST_F(LegacyPortLookup, LastMatchWinsAndOtherDevicesAreIgnored) {
    ASSERT_TRUE(m_keys.SetText(Numbered(0), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(0), "Portname", "COM5"));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "Portname", "COM8"));
    ASSERT_TRUE(
        m_keys.SetText(Numbered(2), "CRLowerDeviceID", "USB\\VID_0A0B&PID_00FF&MI_00\\AB_2_00"));
    ASSERT_TRUE(m_keys.SetText(Numbered(2), "Portname", "COM3"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Legacy(serial), 8);
}

TEST_F(LegacyPortLookup, LongerIdIsReadOnItsKeysSecondVisit) {
    // The size that the first key's query reports (40) is what the second key is asked with.
    const std::string other = std::string("USB\\VID_1111&PID_2222&MI_00\\") + std::string(11, 'Z');
    ASSERT_EQ(other.size() + 1, 40u);
    const std::string id = "USB\\VID_0A0B&PID_00FF&MI_00\\AB_1234567890_00";
    ASSERT_EQ(id.size() + 1, 45u);
    ASSERT_TRUE(m_keys.SetText(Numbered(0), "CRLowerDeviceID", other));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "CRLowerDeviceID", id));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "Portname", "COM9"));
    char serial[64] = "ab 1234567890";
    EXPECT_EQ(Legacy(serial), 9);
}

TEST_F(LegacyPortLookup, IdLongerThanTheBufferIsPassedOver) {
    ASSERT_TRUE(m_keys.SetText(Numbered(0), "CRLowerDeviceID", std::string(149, 'L')));
    ASSERT_TRUE(m_keys.SetText(Numbered(0), "Portname", "COM3"));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "CRLowerDeviceID", kDeviceId));
    ASSERT_TRUE(m_keys.SetText(Numbered(1), "Portname", "COM4"));
    char serial[64] = "ab 1";
    EXPECT_EQ(Legacy(serial), 4);
}

TEST_F(LegacyPortLookup, UnterminatedPortnameEndsWithItsData) {
    // The buffer still holds the device ID read before: "1234" follows the eight bytes of
    // "COM00005", so reading past them would give 51234.
    ASSERT_TRUE(
        m_keys.SetText(Numbered(0), "CRLowerDeviceID", "USB\\VID_1234&PID_5678&MI_00\\7_00"));
    ASSERT_TRUE(m_keys.SetBytes(Numbered(0), "Portname", "COM00005", REG_BINARY));
    char serial[64] = "7";
    EXPECT_EQ(Legacy(serial, 0x1234, 0x5678), 5);
}

} // namespace
