// The firmware file's header fields, and the window's check of a real file against its
// equipment table: the rules themselves are judged in CompatibilityTests.cpp.
#include "common/Sha256Digest.h"
#include "firmware/HeaderField.h"
#include "support/DialogHarness.h"
#include "support/FirmwareImage.h"

#include <gtest/gtest.h>

namespace {

TEST(HeaderField, ReadsLikeScanfOfATwoCharacterText) {
    struct Case {
        std::string field;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"07", 7},
        {" 7", 7},
        {"7 ", 7},
        {"7x", 7},
        {"-1", -1},
        {"99", 99},
        {"+5", 5},
        {"x7", std::nullopt},
        {"  ", std::nullopt},
        {"-x", std::nullopt},
        {std::string("\0"
                     "7",
                     2),
         std::nullopt},
        {std::string("5\0", 2), 5},
        {"AB", std::nullopt},
    };
    for (const Case& c : cases) {
        // The field is followed by more digits in the header: only two characters count.
        const std::string header = c.field + "99";
        EXPECT_EQ(ParseHeaderField(header.data()), c.expected) << "'" << c.field << "'";
    }
}

class CompatibilityCheck : public ::testing::Test {
  protected:
    static constexpr int kPort = 5;

    CompatibilityCheck() : m_harness("") {
        Dialog().m_portDeviceId[kPort] = 7;
        Dialog().m_portFirmwareVersion[kPort] = 6;
        Dialog().m_selectedPort = kPort;
    }

    CUpdateUtilityDlg& Dialog() { return m_harness.Dialog(); }

    // Opens and checks the file; returns the check's result and the messages shown. The file
    // must be back at offset 0 whenever the check accepts it.
    bool Check(const std::string& contents) {
        TempFile file(contents, ".ace");
        return CheckAt(file.Path());
    }
    bool CheckAt(const std::string& path) {
        Dialog().m_sourcePath = path.c_str();
        m_harness.Boxes().Clear();
        EXPECT_TRUE(Dialog().OpenSourceFile());
        const bool accepted = Dialog().CheckSourceHeader();
        if (accepted) {
            EXPECT_EQ(::SetFilePointer(Dialog().m_hSourceFile, 0, nullptr, FILE_CURRENT), 0u);
        }
        Dialog().CloseSourceFile();
        EXPECT_EQ(Dialog().m_hSourceFile, INVALID_HANDLE_VALUE);
        return accepted;
    }

    std::vector<std::string> Messages() { return m_harness.Boxes().Texts(); }
    using Texts = std::vector<std::string>;

    DialogHarness m_harness;
};

TEST_F(CompatibilityCheck, NewerVersionForTheSameModelPasses) {
    EXPECT_TRUE(Check(FirmwareImage(512, "07", "07")));
    EXPECT_TRUE(Check(FirmwareImage(5000, " 7", "7x")));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(CompatibilityCheck, EachRefusalHasItsOwnMessage) {
    struct Case {
        std::string file;
        const char* message;
    };
    const Case cases[] = {
        {FirmwareImage(511, "07", "07"), "Source file too short to retrieve header information"},
        {"", "Source file too short to retrieve header information"},
        {FirmwareImage(512, "x7", "07"), "Unable to get device ID from file"},
        {FirmwareImage(512, "07", "AB"), "Unable to get device ID from file"},
        {FirmwareImage(512, "08", "AB"), "Unable to get device ID from file"},
        {FirmwareImage(512, "08", "09"), "This file is not meant for the connected equipment"},
        {FirmwareImage(512, "07", "05"), "This file version is older than the current firmware"},
        {FirmwareImage(512, "07", "06"),
         "Your equipment already has the latest firmware installed"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(Check(c.file)) << c.message;
        EXPECT_EQ(Messages(), Texts{c.message});
        EXPECT_EQ(m_harness.Text(1015), c.message);
    }
}

TEST_F(CompatibilityCheck, ShiftSkipsTheCheckWithoutReading) {
    ShiftHeld shift;
    EXPECT_TRUE(Check(""));
    EXPECT_TRUE(Check(FirmwareImage(700, "99", "00")));
    EXPECT_TRUE(Messages().empty());
}

// A SHA256SUMS beside the chosen file: a file it lists must match, Shift or not; a file it does
// not list is checked as before. Windows compares the names without letter case.
TEST_F(CompatibilityCheck, PublishedChecksumsBesideTheFile) {
    const std::string image = FirmwareImage(2048, "07", "07");
    Sha256Digest digest;
    digest.Add(image.data(), image.size());
    const std::string sha256 = digest.Finish();
    std::string other = sha256;
    other[0] = other[0] == '0' ? '1' : '0';
    const char* const damaged =
        "This file is damaged or is not the one published: its SHA-256 does not match SHA256SUMS";
    struct Case {
        std::string sums;
        bool shift;
        const char* message; // nullptr: accepted
    };
    const Case cases[] = {
        {sha256 + "  AMP-V007.ACE\r\n", false, nullptr},
        {other + "  AMP-V007.ACE\n", false, damaged},
        {other + " *Amp-v007.ace\n", false, damaged},
        {other + " *Amp-v007.ace\n", true, damaged},
        {sha256 + "  Amp-v007.ace\n" + other + "  amp-v007.ace\n", false, damaged},
        {other + "  Amp-v006.ace\n", false, nullptr},
        {"", false, nullptr},
    };
    for (const Case& c : cases) {
        TempFolder folder("sums");
        const std::string file = folder.Add("Amp-v007.ace", image);
        folder.Add("SHA256SUMS", c.sums);
        std::optional<ShiftHeld> shift;
        if (c.shift)
            shift.emplace();
        EXPECT_EQ(CheckAt(file), c.message == nullptr) << c.sums;
        EXPECT_EQ(Messages(), c.message ? Texts{c.message} : Texts{}) << c.sums;
    }
    // A list that cannot be read refuses the file: it may list it.
    TempFolder folder("unreadable");
    const std::string file = folder.Add("Amp-v007.ace", image);
    ASSERT_TRUE(::CreateDirectoryA((folder.Path() + "\\SHA256SUMS").c_str(), nullptr));
    EXPECT_FALSE(CheckAt(file));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].rfind("Unable to read the published checksums", 0), 0u)
        << Messages()[0];
    ::RemoveDirectoryA((folder.Path() + "\\SHA256SUMS").c_str());
}

TEST_F(CompatibilityCheck, PortsWithoutASlotAreRefused) {
    for (int port : {17, 200, 255}) {
        Dialog().m_selectedPort = static_cast<BYTE>(port);
        EXPECT_FALSE(Check(FirmwareImage(512, "07", "07"))) << port;
        EXPECT_EQ(Messages(), Texts{"The file cannot be checked: no equipment on COM0 to COM16 is "
                                    "selected"});
    }
    ShiftHeld shift;
    EXPECT_TRUE(Check(FirmwareImage(512, "07", "07")));
}

TEST_F(CompatibilityCheck, FileThatCannotBeOpenedIsReported) {
    TempFile held(FirmwareImage(512, "07", "07"), ".ace");
    HANDLE other = ::CreateFileA(held.Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    for (const std::string& path : {held.Path(), std::string(), held.Path() + ".missing"}) {
        Dialog().m_sourcePath = path.c_str();
        m_harness.Boxes().Clear();
        EXPECT_FALSE(Dialog().OpenSourceFile()) << path;
        EXPECT_EQ(Dialog().m_hSourceFile, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Messages(), Texts{"Error opening Source File"});
    }
    ::CloseHandle(other);
}

} // namespace
