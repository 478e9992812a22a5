// Building the equipment list: the simulated bridge library reports the bridges, Wine's registry
// maps each bridge's serial to a COM port, and simulated equipment answers on those ports.
#include "SimEquipment.h"
#include "discovery/BridgeLibrary.h"
#include "res/resource.h"
#include "support/BridgedUnits.h"
#include "support/ChildTest.h"
#include "support/DialogHarness.h"
#include "support/FirmwareImage.h"
#include "support/RegistryKeys.h"
#include "support/TempFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

const char kPlaceholder[] = "No Orvane equipment connected";

// The bridge library's own count of handles opened and not closed (simulated library only).
DWORD OpenBridgeHandles() {
    using CountFn = DWORD(WINAPI*)();
    const auto count = reinterpret_cast<CountFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA(BridgeLibrary::kFileName), MAKEINTRESOURCEA(100))));
    return count ? count() : 0xFFFFFFFF;
}

// The whole equipment table, one readable row per slot.
std::vector<std::string> Table(const CUpdateUtilityDlg& dialog) {
    std::vector<std::string> rows;
    for (int port = 0; port < kEquipmentSlots; ++port) {
        rows.push_back(std::to_string(port) + ": " + std::to_string(dialog.m_portDeviceId[port]) +
                       " " + std::to_string(dialog.m_portFirmwareVersion[port]) + " " +
                       static_cast<const char*>(dialog.m_portFirmwareText[port]));
    }
    return rows;
}

using EquipmentList = BridgedUnits;

TEST_F(EquipmentList, NoBridgeGivesOnlyThePlaceholderSelected) {
    DialogHarness harness;
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{kPlaceholder});
    EXPECT_EQ(harness.ListItemData(), std::vector<LRESULT>{-1});
    EXPECT_EQ(harness.ListSelection(), 0);
    EXPECT_EQ(harness.Dialog().m_selectedPort, 0xFF);
    EXPECT_TRUE(harness.Boxes().Shown().empty());
}

TEST_F(EquipmentList, BridgesAreListedInIndexOrderOncePerRefresh) {
    // Index order differs from port order on purpose.
    MapSerial("U11", "COM11");
    MapSerial("U10", "COM10");
    StartUnits({10, 11});
    Configure(11, "reply=030C");
    Configure(10, "reply=042A");
    DialogHarness harness(Bridge("U11", "Orvane Amplifier") + Bridge("U10", "Orvane Mixer"));
    CUpdateUtilityDlg& dialog = harness.Dialog();

    const std::vector<std::string> expected{"Orvane Amplifier, firmware version 012",
                                            "Orvane Mixer, firmware version 042"};
    for (int refresh = 0; refresh < 2; ++refresh) {
        if (refresh > 0)
            harness.Click(IDC_REFRESH_LIST);
        EXPECT_EQ(harness.ListEntries(), expected) << "refresh " << refresh;
        EXPECT_EQ(harness.ListItemData(), (std::vector<LRESULT>{11, 10}));
        EXPECT_EQ(harness.ListSelection(), 1);
        EXPECT_EQ(dialog.m_selectedPort, 10);
    }
    EXPECT_EQ(dialog.m_portDeviceId[11], 3);
    EXPECT_EQ(dialog.m_portFirmwareVersion[11], 12);
    EXPECT_STREQ(dialog.m_portFirmwareText[11], "012");
    EXPECT_EQ(dialog.m_portDeviceId[10], 4);
    EXPECT_EQ(dialog.m_portFirmwareVersion[10], 42);
    EXPECT_STREQ(dialog.m_portFirmwareText[10], "042");
    // Each port was asked once per refresh and is closed again; so are the bridges.
    m_units.WaitReceived(10, 8);
    m_units.WaitReceived(11, 8);
    EXPECT_EQ(m_units.Received(10), "ver\rver\r");
    EXPECT_EQ(m_units.Received(11), "ver\rver\r");
    EXPECT_EQ(dialog.m_hComPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenBridgeHandles(), 0u);
    EXPECT_TRUE(harness.Boxes().Shown().empty());
}

TEST_F(EquipmentList, UnreadableBridgesAreDroppedSilentlyAndClosed) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    std::string bridges;
    for (const char* call : {"open", "vid", "pid", "product", "serial"})
        bridges += Bridge("U10", "Broken", std::string("fail=") + call);
    DialogHarness harness(bridges);
    EXPECT_TRUE(harness.ListEntries().empty());
    EXPECT_EQ(harness.ListSelection(), CB_ERR);
    EXPECT_EQ(OpenBridgeHandles(), 0u);
    EXPECT_TRUE(harness.Boxes().Shown().empty());
    EXPECT_EQ(m_units.Received(10), "");

    // A readable bridge after them is still examined.
    harness.SetBridges(bridges + Bridge("U10", "Orvane Mixer"));
    harness.Click(IDC_REFRESH_LIST);
    EXPECT_EQ(harness.ListEntries(),
              std::vector<std::string>{"Orvane Mixer, firmware version 007"});
    EXPECT_EQ(harness.ListItemData(), std::vector<LRESULT>{10});
    EXPECT_EQ(OpenBridgeHandles(), 0u);
}

TEST_F(EquipmentList, EmptyProductTextLeavesOnlyTheVersion) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    DialogHarness harness(Bridge("U10", ""));
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{", firmware version 007"});
}

TEST_F(EquipmentList, ProductTextWithoutRoomForItsEndIsCutTo127Characters) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    // The library reports 128 characters and fills the whole buffer, leaving no NUL.
    DialogHarness harness(Bridge("U10", "Orvane Amplifier", "product_length=128"));
    const std::string product = "Orvane Amplifier" + std::string(127 - 16, 'X');
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{product + ", firmware version 007"});
}

TEST_F(EquipmentList, VersionByteShowsAsSignedThreeDigits) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    DialogHarness harness(Bridge("U10", "Amp"));
    const struct {
        const char* reply;
        signed char version;
        const char* text;
    } cases[] = {
        {"0305", 5, "005"}, {"0380", -128, "-128"}, {"03C8", -56, "-056"}, {"03FF", -1, "-001"}};
    for (const auto& c : cases) {
        Configure(10, std::string("reply=") + c.reply);
        harness.Click(IDC_REFRESH_LIST);
        EXPECT_EQ(harness.ListEntries(),
                  std::vector<std::string>{std::string("Amp, firmware version ") + c.text});
        EXPECT_EQ(harness.Dialog().m_portDeviceId[10], 3);
        EXPECT_EQ(harness.Dialog().m_portFirmwareVersion[10], c.version) << c.reply;
        EXPECT_STREQ(harness.Dialog().m_portFirmwareText[10], c.text);
    }
}

TEST_F(EquipmentList, SilentEquipmentShowsUnknownAndKeepsWhatItSaidBefore) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    Configure(10, "reply=030C");
    DialogHarness harness(Bridge("U10", "Amp"));
    ASSERT_EQ(harness.ListEntries(), std::vector<std::string>{"Amp, firmware version 012"});

    Configure(10, "mode=silent");
    harness.Click(IDC_REFRESH_LIST);
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{"Amp, firmware version Unknown"});
    EXPECT_EQ(harness.ListItemData(), std::vector<LRESULT>{10});
    CUpdateUtilityDlg& dialog = harness.Dialog();
    EXPECT_EQ(dialog.m_portDeviceId[10], 3);
    EXPECT_EQ(dialog.m_portFirmwareVersion[10], 12);
    EXPECT_STREQ(dialog.m_portFirmwareText[10], "Unknown");
    EXPECT_TRUE(harness.Boxes().Shown().empty());
}

TEST_F(EquipmentList, PortThatCannotBeOpenedIsReportedAndStillListed) {
    MapSerial("U13", "COM13"); // nothing behind COM13
    DialogHarness harness(Bridge("U13", "Amp"));
    harness.Boxes().Clear();
    harness.Click(IDC_REFRESH_LIST);

    const std::vector<ShownMessageBox>& boxes = harness.Boxes().Shown();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Error opening Master COM port");
    EXPECT_EQ(boxes[1].text, "Error opening device port");
    for (const ShownMessageBox& box : boxes) {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_TRUE(box.exclamationIcon);
    }
    EXPECT_EQ(harness.Text(IDC_STATUS), "Error opening device port");
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{"Amp, firmware version Unknown"});
    EXPECT_EQ(harness.ListItemData(), std::vector<LRESULT>{13});
    EXPECT_STREQ(harness.Dialog().m_portFirmwareText[13], "Unknown");
}

TEST_F(EquipmentList, PortsOutsideTheTableAreListedWithoutTouchingIt) {
    MapSerial("U17", "COM17");
    MapSerial("U266", "COM266"); // as one byte this would be COM10
    StartUnits({10, 17});
    Configure(17, "reply=030C");
    // No key for "UX": no port.
    DialogHarness harness(Bridge("UX", "Lost") + Bridge("U17", "High") + Bridge("U266", "Far"),
                          false);
    CUpdateUtilityDlg& dialog = harness.Dialog();
    for (int port = 0; port < kEquipmentSlots; ++port) {
        dialog.m_portDeviceId[port] = static_cast<signed char>(port);
        dialog.m_portFirmwareVersion[port] = static_cast<signed char>(100 + port);
        dialog.m_portFirmwareText[port].Format("slot %d", port);
    }
    const std::vector<std::string> before = Table(dialog);
    harness.Create();

    EXPECT_EQ(Table(dialog), before);
    EXPECT_EQ(harness.ListEntries(), (std::vector<std::string>{"Lost, firmware version Unknown",
                                                               "High, firmware version 012",
                                                               "Far, firmware version Unknown"}));
    EXPECT_EQ(harness.ListItemData(), (std::vector<LRESULT>{-1, 17, -1}));
    m_units.WaitReceived(17, 4);
    EXPECT_EQ(m_units.Received(17), "ver\r");
    EXPECT_EQ(m_units.Received(10), "");
    EXPECT_EQ(m_units.Events(10).find("open"), std::string::npos) << m_units.Events(10);
}

TEST_F(EquipmentList, EntryWithoutAPortAndAUnitOnCom255AreNeverProgrammed) {
    MapSerial("U255", "COM255");
    StartUnits({255});
    Configure(255, "reply=0105");
    // No key for "UX": its entry has no port, which the selection carries as the byte 255.
    DialogHarness harness(Bridge("UX", "Lost") + Bridge("U255", "Far"));
    EXPECT_EQ(harness.ListEntries(), (std::vector<std::string>{"Lost, firmware version Unknown",
                                                               "Far, firmware version 005"}));
    ASSERT_TRUE(m_units.WaitReceived(255, 4));
    TempFile file(FirmwareImage(5000), ".ace");
    harness.SetText(IDC_SOURCE_PATH, file.Path());
    for (int entry : {0, 1}) {
        ::SendMessageA(harness.Control(IDC_EQUIPMENT_LIST), CB_SETCURSEL, entry, 0);
        harness.Boxes().Clear();
        {
            ShiftHeld shift; // the check would refuse first otherwise
            harness.Click(IDC_UPDATE);
        }
        EXPECT_EQ(harness.Dialog().m_selectedPort, 0xFF) << entry;
        EXPECT_EQ(harness.Boxes().Texts(),
                  std::vector<std::string>{"Error opening Master COM port"})
            << entry;
        EXPECT_EQ(harness.Text(IDC_STATUS), "Error opening Master COM port") << entry;
    }
    // Only the refresh's query ever reached the unit on COM255.
    EXPECT_EQ(m_units.Received(255), "ver\r");
    EXPECT_EQ(SimEquipment::CountEventLines(m_units.Events(255), "open"), 1) << m_units.Events(255);
}

TEST_F(EquipmentList, FailedCountGivesNoBridges) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    DialogHarness harness(Bridge("U10", "Amp"));
    ASSERT_EQ(harness.ListEntries().size(), 1u);

    harness.SetBridges(Bridge("U10", "Amp") + "count_status=5\n");
    harness.Click(IDC_REFRESH_LIST);
    EXPECT_EQ(harness.Dialog().m_deviceCount, 0u);
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{kPlaceholder});
    EXPECT_EQ(harness.ListItemData(), std::vector<LRESULT>{-1});
    EXPECT_EQ(harness.ListSelection(), 0);
}

TEST_F(EquipmentList, RefreshClosesAPortLeftOpenByAnUpdate) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    DialogHarness harness(Bridge("U10", "Amp"));
    CUpdateUtilityDlg& dialog = harness.Dialog();
    // As an update that did not complete leaves it.
    ASSERT_TRUE(dialog.OpenMasterPort(10));
    dialog.m_portOpen = true;
    harness.Click(IDC_REFRESH_LIST);

    EXPECT_FALSE(dialog.m_portOpen);
    EXPECT_EQ(dialog.m_hComPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{"Amp, firmware version 007"});
    // Every time the port was opened it was closed again. (Wine, unlike Windows, would let a
    // second handle open the port anyway, so the simulator's count is what tells.)
    const ULONGLONG end = ::GetTickCount64() + 3000;
    std::string events;
    do {
        ::Sleep(10);
        events = m_units.Events(10);
    } while (SimEquipment::CountEventLines(events, "open ") !=
                 SimEquipment::CountEventLines(events, "close") &&
             ::GetTickCount64() < end);
    EXPECT_EQ(SimEquipment::CountEventLines(events, "open "), 3) << events;
    EXPECT_EQ(SimEquipment::CountEventLines(events, "close"), 3) << events;
    ASSERT_TRUE(dialog.OpenMasterPort(10));
    dialog.CloseMasterPort();
}

TEST(BridgeLibraryBinding, BindsTheLibraryBesideTheProgramByOrdinal) {
    BridgeLibrary* library = BridgeLibrary::Get();
    ASSERT_NE(library, nullptr);
    HMODULE module = ::GetModuleHandleA(BridgeLibrary::kFileName);
    ASSERT_NE(module, nullptr);
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(module, path, MAX_PATH);
    const std::string program = ThisProgram();
    EXPECT_STRCASEEQ(
        path,
        (program.substr(0, program.find_last_of('\\') + 1) + BridgeLibrary::kFileName).c_str());
    auto ordinal = [module](WORD number) {
        return reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(number)));
    };
    EXPECT_EQ(reinterpret_cast<void*>(library->Count), ordinal(1));
    EXPECT_EQ(reinterpret_cast<void*>(library->Open), ordinal(3));
    EXPECT_EQ(reinterpret_cast<void*>(library->Close), ordinal(4));
    EXPECT_EQ(reinterpret_cast<void*>(library->ProductText), ordinal(12));
    EXPECT_EQ(reinterpret_cast<void*>(library->SerialText), ordinal(13));
    EXPECT_EQ(reinterpret_cast<void*>(library->Vid), ordinal(14));
    EXPECT_EQ(reinterpret_cast<void*>(library->Pid), ordinal(15));
}

TEST(DISABLED_MissingLibraryChild, RefreshesWithoutTheLibrary) {
    if (!InChildRun())
        GTEST_SKIP() << "run by MissingLibrary only";
    DialogHarness harness(Bridge("U10", "Amp"));
    std::string report = ::GetModuleHandleA(BridgeLibrary::kFileName) ? "loaded\n" : "absent\n";
    for (const std::string& entry : harness.ListEntries())
        report += "entry " + entry + "\n";
    for (const std::string& box : harness.Boxes().Texts())
        report += "box " + box + "\n";
    ASSERT_TRUE(WriteChildReport(report));
}

// Runs the child test in a copy of this program, alone in a folder of its own except for
// `besideIt` (copied there as the bridge library when given), and started in the folder that
// holds the real one: a library in the current folder must not be used.
ChildRun RunCopyWithLibrary(const std::string& besideIt) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "orvane-no-library-" + std::to_string(::GetCurrentProcessId());
    const std::string copy = folder + "\\discovery_copy.exe";
    const std::string library = folder + "\\" + BridgeLibrary::kFileName;
    const std::string program = ThisProgram();
    ChildRun child;
    if (::CreateDirectoryA(folder.c_str(), nullptr) &&
        ::CopyFileA(program.c_str(), copy.c_str(), FALSE) &&
        (besideIt.empty() || ::CopyFileA(besideIt.c_str(), library.c_str(), FALSE))) {
        child = RunChildTest("DISABLED_MissingLibraryChild.*", copy,
                             program.substr(0, program.find_last_of('\\')));
    } else {
        ADD_FAILURE() << "cannot set up " << folder;
    }
    ::DeleteFileA(library.c_str());
    ::DeleteFileA(copy.c_str());
    ::RemoveDirectoryA(folder.c_str());
    return child;
}

const std::string kWithoutLibrary = std::string("absent\n") + "entry " + kPlaceholder + "\n" +
                                    "box Unable to load CP210xManufacturing.dll: no equipment "
                                    "can be found\n";

TEST(MissingLibrary, RefreshReportsItAndListsNoEquipment) {
    const ChildRun child = RunCopyWithLibrary("");
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u);
    EXPECT_EQ(child.report, kWithoutLibrary);
}

TEST(MissingLibrary, LibraryWithoutTheCallsIsUnloadedAndReported) {
    // A system library with only five exports stands in for a library of another make: it has
    // ordinals 1 to 5 but not 12 to 15.
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    const ChildRun child = RunCopyWithLibrary(std::string(system) + "\\msimg32.dll");
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u);
    EXPECT_EQ(child.report, kWithoutLibrary);
}

// The simulated bridge library of the 32-bit build, which this build makes into x86\bin.
std::string ThirtyTwoBitLibrary() {
    const std::string program = ThisProgram();
    return program.substr(0, program.find_last_of('\\')) + "\\..\\x86\\bin\\" +
           BridgeLibrary::kFileName;
}

TEST(MissingLibrary, LibraryOfTheOtherBitnessIsNamedAsSuch) {
    const ChildRun child = RunCopyWithLibrary(ThirtyTwoBitLibrary());
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u);
    EXPECT_EQ(child.report, std::string("absent\n") + "entry " + kPlaceholder + "\n" +
                                "box CP210xManufacturing.dll is a 32-bit library and this is the "
                                "64-bit program: use the 32-bit program, or the 64-bit library\n");
}

TEST(BridgeLibraryBinding, ImageBitsComeFromThePeHeader) {
    const std::string program = ThisProgram();
    const std::string beside =
        program.substr(0, program.find_last_of('\\') + 1) + BridgeLibrary::kFileName;
    EXPECT_EQ(BridgeLibrary::ImageBits(beside.c_str()), 64);
    EXPECT_EQ(BridgeLibrary::ImageBits(program.c_str()), 64);
    EXPECT_EQ(BridgeLibrary::ImageBits(ThirtyTwoBitLibrary().c_str()), 32);
    EXPECT_EQ(BridgeLibrary::ImageBits((beside + ".absent").c_str()), 0);

    // Damaged copies of the 32-bit library: cut just before the field that tells the bitness,
    // with the PE header placed past the end, and a text file.
    const std::string image = ReadWholeFile(ThirtyTwoBitLibrary());
    ASSERT_GT(image.size(), 0x200u);
    LONG header = 0;
    image.copy(reinterpret_cast<char*>(&header), sizeof(header), 0x3C);
    ASSERT_LT(header, 0x180);
    const TempFile cut(image.substr(0, header + 4 + sizeof(IMAGE_FILE_HEADER) + 1), ".dll");
    EXPECT_EQ(BridgeLibrary::ImageBits(cut.Path().c_str()), 0);
    std::string farHeader = image.substr(0, 0x200);
    const LONG pastTheEnd = 0x1000;
    farHeader.replace(0x3C, sizeof(pastTheEnd), reinterpret_cast<const char*>(&pastTheEnd),
                      sizeof(pastTheEnd));
    const TempFile misplaced(farHeader, ".dll");
    EXPECT_EQ(BridgeLibrary::ImageBits(misplaced.Path().c_str()), 0);
    const TempFile text("MZ, but no program", ".dll");
    EXPECT_EQ(BridgeLibrary::ImageBits(text.Path().c_str()), 0);
}

// Not a check: how long one refresh takes with 1, 4 and 16 units that answer. Run with
//   discovery_tests.exe --gtest_also_run_disabled_tests --gtest_filter=*RefreshTiming*
TEST_F(EquipmentList, UpdatePressedDuringARefreshIsIgnored) {
    MapSerial("U10", "COM10");
    StartUnits({10});
    Configure(10, "reply=0105");
    DialogHarness harness(Bridge("U10", "Orvane Amplifier"));
    std::string firmware(4096, '\x5A');
    firmware.replace(257, 4, "0106"); // newer firmware for this unit
    TempFile file(firmware, ".ace");
    harness.SetText(IDC_SOURCE_PATH, file.Path());
    ASSERT_TRUE(m_units.WaitEvent(10, "close"));
    m_units.ClearReceived(10);

    // The refresh pumps messages while it runs; the queued press must not start an update.
    ::PostMessageA(harness.Dialog().m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                   reinterpret_cast<LPARAM>(harness.Control(IDC_UPDATE)));
    harness.Click(IDC_REFRESH_LIST);
    harness.Dialog().PumpMessages();

    ASSERT_TRUE(m_units.WaitEvent(10, "close"));
    EXPECT_EQ(m_units.Received(10), "ver\r");
    EXPECT_TRUE(harness.Boxes().Shown().empty());
    EXPECT_FALSE(harness.Dialog().m_portOpen);
}

TEST_F(EquipmentList, DISABLED_RefreshTiming) {
    const int counts[] = {1, 4, 16};
    for (int units : counts) {
        RegistryKeys keys;
        SimEquipment equipment;
        std::vector<int> ports;
        std::string bridges;
        for (int i = 0; i < units; ++i) {
            const int port = 10 + i;
            char serial[16];
            std::snprintf(serial, sizeof(serial), "T%d", port);
            ports.push_back(port);
            bridges += Bridge(serial, "Unit");
            ASSERT_TRUE(keys.SetText("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\" +
                                         std::string(serial) + "\\Device Parameters",
                                     "PortName", "COM" + std::to_string(port)));
        }
        ASSERT_TRUE(equipment.Start(ports)) << equipment.Error();
        DialogHarness harness(bridges);
        ASSERT_EQ(harness.ListEntries().size(), static_cast<size_t>(units));
        LARGE_INTEGER frequency;
        LARGE_INTEGER start;
        LARGE_INTEGER stop;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        harness.Dialog().RefreshEquipmentList();
        ::QueryPerformanceCounter(&stop);
        const double ms = 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        EXPECT_EQ(harness.ListEntries().size(), static_cast<size_t>(units));
        EXPECT_TRUE(harness.Boxes().Shown().empty());
        std::printf("refresh with %2d units: %7.1f ms (pauses alone: %d ms)\n", units, ms,
                    180 * units);
    }
}

} // namespace
