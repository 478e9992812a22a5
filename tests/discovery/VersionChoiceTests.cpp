// The refresh chooses the registry layout by the system's version word. Wine fixes the version
// a process sees at its start, from the per-program setting in its own registry, so each case
// runs this program again as a child that refreshes the list and reports what it got.
#include "support/ChildTest.h"
#include "support/DialogHarness.h"
#include "support/RegistryKeys.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>

namespace {

const char kBridge[] = "vid=0x10C4 pid=0xEA60 product=Unit serial=V1\n";
constexpr int kNtPort = 11;     // where the NT layout maps the bridge
constexpr int kLegacyPort = 12; // where the 9x layout maps it; neither port has a device

TEST(DISABLED_VersionChoiceChild, ListsTheBridge) {
    if (!InChildRun())
        GTEST_SKIP() << "run by VersionChoice only";
    DialogHarness harness(kBridge); // creating the window refreshes the list
    const std::vector<LRESULT> data = harness.ListItemData();
    ASSERT_EQ(data.size(), 1u);
    char report[64];
    std::snprintf(report, sizeof(report), "%08lx %ld", ::GetVersion() & 0x8000000F,
                  static_cast<long>(data[0]));
    ASSERT_TRUE(WriteChildReport(report));
}

struct VersionCase {
    const char* wineVersion; // nullptr: Wine's default
    DWORD versionWord;       // GetVersion() & 0x8000000F
    long port;               // the entry's item data
};

// Names the case in test listings instead of its bytes.
void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << (c.wineVersion ? c.wineVersion : "Wine default");
}

class VersionChoice : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionChoice, SelectsTheLookupOfTheReportedFamily) {
    const VersionCase& c = GetParam();
    RegistryKeys machine;
    ASSERT_TRUE(machine.SetText(
        "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\V1\\Device Parameters",
        "PortName", "COM" + std::to_string(kNtPort)));
    ASSERT_TRUE(machine.SetText("Enum\\SLABCR\\guid\\0000", "CRLowerDeviceID",
                                "USB\\VID_10C4&PID_EA60&MI_00\\V1_00"));
    ASSERT_TRUE(machine.SetText("Enum\\SLABCR\\guid\\0000", "Portname",
                                "COM" + std::to_string(kLegacyPort)));
    // Wine's per-program setting, keyed by the program's file name.
    RegistryKeys user(HKEY_CURRENT_USER);
    if (c.wineVersion) {
        const std::string program = ThisProgram();
        ASSERT_TRUE(user.SetText("Software\\Wine\\AppDefaults\\" +
                                     program.substr(program.find_last_of('\\') + 1),
                                 "Version", c.wineVersion));
    }

    const ChildRun child = RunChildTest("DISABLED_VersionChoiceChild.*");
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u) << "the child's test failed";
    unsigned long versionWord = 0;
    long port = -2;
    ASSERT_EQ(std::sscanf(child.report.c_str(), "%lx %ld", &versionWord, &port), 2) << child.report;
    EXPECT_EQ(versionWord, c.versionWord);
    EXPECT_EQ(port, c.port);
}

INSTANTIATE_TEST_SUITE_P(WineVersions, VersionChoice,
                         ::testing::Values(VersionCase{nullptr, 6, kNtPort},
                                           VersionCase{"win98", 0x80000004, kLegacyPort},
                                           VersionCase{"win2k", 5, kNtPort},
                                           VersionCase{"winxp", 5, kNtPort},
                                           VersionCase{"win7", 6, kNtPort},
                                           // A program whose manifest does not name Windows 10
                                           // is told 6.2.
                                           VersionCase{"win10", 6, kNtPort},
                                           // NT 4.0 is neither family: no lookup, no port.
                                           VersionCase{"nt40", 4, -1}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                             return std::string(info.param.wineVersion ? info.param.wineVersion
                                                                       : "WineDefault");
                         });

} // namespace
