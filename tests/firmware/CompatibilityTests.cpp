// The compatibility verdict with header bytes in memory, and the firmware file's own reads.
#include "VerdictCases.h"
#include "firmware/Compatibility.h"
#include "support/CaseTable.h"
#include "support/TempFile.h"
#include "text/Messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

FirmwareHeader Header(const char* deviceId, const char* version) {
    FirmwareHeader header;
    header.fill('\xA5');
    std::memcpy(header.data() + kDeviceIdOffset, deviceId, std::strlen(deviceId));
    std::memcpy(header.data() + kVersionOffset, version, std::strlen(version));
    return header;
}

Verdict Judge(const char* deviceId, const char* version, InstalledFirmware installed,
              bool overrideHeld = false) {
    return CheckCompatibility(ReadHeaderFields(Header(deviceId, version)), &installed,
                              overrideHeld);
}

TEST(Verdict, RulesApplyInOrderFieldsThenModelThenVersion) {
    const InstalledFirmware unit{7, 6};
    EXPECT_EQ(Judge("07", "07", unit), Verdict::Accepted);
    EXPECT_EQ(Judge(" 7", "7x", unit), Verdict::Accepted);
    EXPECT_EQ(Judge("x7", "07", unit), Verdict::BadField);
    // Both fields are read before any comparison: another model with a bad version field.
    EXPECT_EQ(Judge("08", "AB", unit), Verdict::BadField);
    EXPECT_EQ(Judge("08", "09", unit), Verdict::OtherModel);
    EXPECT_EQ(Judge("07", "05", unit), Verdict::Older);
    EXPECT_EQ(Judge("07", "06", unit), Verdict::SameVersion);
}

// The cases the web engine's tests share: the verdict with and without the choice to allow an
// older or the same version, in the words the faces show.
TEST(Verdict, SharedCasesWithTheDowngradeChoiceGetTheirWords) {
    int count = 0;
    for (const std::vector<std::string>& fields : CaseRows(kVerdictCases)) {
        ASSERT_EQ(fields.size(), 7u) << fields[0];
        const InstalledFirmware unit{std::stoi(fields[3]), std::stoi(fields[4])};
        const Verdict verdict = CheckAllowingDowngrade(
            ReadHeaderFields(Header(fields[1].c_str(), fields[2].c_str())), unit, fields[5] == "1");
        EXPECT_EQ(fields[6] == "-" ? "" : fields[6], MessageFor(verdict)) << fields[0];
        ++count;
    }
    EXPECT_GT(count, 10);
}

TEST(Verdict, UnitThatNeverAnsweredMatchesOnlyDeviceIdMinusOne) {
    const InstalledFirmware never{-1, -1};
    EXPECT_EQ(Judge("00", "05", never), Verdict::OtherModel);
    EXPECT_EQ(Judge("-1", "00", never), Verdict::Accepted);
    EXPECT_EQ(Judge("-1", "-1", never), Verdict::SameVersion);
}

TEST(Verdict, InstalledVersionsFrom0x80AreNegative) {
    EXPECT_EQ(Judge("07", "00", {7, static_cast<signed char>(0x80)}), Verdict::Accepted);
    EXPECT_EQ(Judge("07", "0", {7, static_cast<signed char>(0xFF)}), Verdict::Accepted);
    EXPECT_EQ(Judge("07", "-2", {7, static_cast<signed char>(0xFF)}), Verdict::Older);
}

TEST(Verdict, NoSlotIsRefusedUnlessOverriddenAndOverrideAcceptsAnything) {
    const HeaderFields good = ReadHeaderFields(Header("07", "07"));
    EXPECT_EQ(CheckCompatibility(good, nullptr, false), Verdict::NoSlot);
    EXPECT_EQ(CheckCompatibility(good, nullptr, true), Verdict::Accepted);
    // Unread (empty) fields with the override held.
    EXPECT_EQ(CheckCompatibility(HeaderFields{}, nullptr, true), Verdict::Accepted);
    const InstalledFirmware unit{7, 9};
    EXPECT_EQ(CheckCompatibility(ReadHeaderFields(Header("99", "00")), &unit, true),
              Verdict::Accepted);
}

TEST(FirmwareFileReads, HeaderIsReadAndTheFileRewoundSoTheTransferSendsItAll) {
    std::string image(600, 'a');
    image[0] = 'S';
    TempFile file(image, ".ace");
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Open(file.Path().c_str()));
    FirmwareHeader header;
    ASSERT_TRUE(firmware.ReadHeader(header));
    std::uint32_t size = 0;
    ASSERT_TRUE(firmware.Size(size));
    EXPECT_EQ(size, 600u);
    char first = 0;
    std::uint32_t read = 0;
    ASSERT_TRUE(firmware.Read(&first, 1, read));
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(first, 'S');

    // The file is held without sharing until closed.
    EXPECT_EQ(FirmwareFile().Open(file.Path().c_str()).failed, FirmwareError::Open);
    firmware.Close();
    EXPECT_TRUE(FirmwareFile().Open(file.Path().c_str()));
}

TEST(FirmwareFileReads, ShortFilesHaveNoHeader) {
    for (size_t size : {0u, 511u}) {
        TempFile file(std::string(size, 'x'), ".ace");
        FirmwareFile firmware;
        ASSERT_TRUE(firmware.Open(file.Path().c_str()));
        FirmwareHeader header;
        EXPECT_EQ(firmware.ReadHeader(header).failed, FirmwareError::TooShort) << size;
    }
}

} // namespace
