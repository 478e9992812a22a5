// The window follows the hardware: device notices (sent as the system sends them) refresh the
// list once they have stopped, the selected unit stays selected on another port, and a removal
// of the unit being written to ends the transfer at once.
#include "SimEquipment.h"
#include "res/resource.h"
#include "support/BridgedUnits.h"
#include "support/DialogHarness.h"
#include "support/RegistryKeys.h"
#include "support/SystemNotices.h"
#include "support/UpdateBench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>

namespace {

const char kWriteError[] = "Error writing data to Master COM port";
const DeviceNotice kCom5 = DeviceNotice::Port("COM5");

int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

using HotPlug = BridgedUnits;

TEST_F(HotPlug, BurstOfNoticesGivesOneRefreshAfterTheQuietSecond) {
    MapSerial("U5", "COM5");
    MapSerial("U6", "COM6");
    StartUnits({5, 6});
    DialogHarness harness(Bridge("U5", "Orvane Amplifier"));
    HWND window = harness.Dialog().m_hWnd;
    TempFolder logFolder("log");
    harness.Dialog().m_supportLog = SupportLog(logFolder.Path());
    ASSERT_TRUE(m_units.WaitReceived(5, 4));
    m_units.ClearReceived(5);

    // The mixer is plugged in: ten notices over more than the settle time, as a bridge's USB
    // device, interface and port arrive and the system rearranges its device tree.
    harness.SetBridges(Bridge("U5", "Orvane Amplifier") + Bridge("U6", "Orvane Mixer"));
    const DeviceNotice com6 = DeviceNotice::Port("COM6");
    const DeviceNotice usb = DeviceNotice::UsbDevice(0x10C4, 0xEA60, "U6");
    const auto listed = [&harness] { return harness.ListEntries().size(); };
    DWORD lastNotice = 0;
    for (int notice = 0; notice < 10; ++notice) {
        if (notice % 3 == 0)
            SendDeviceChange(window, DBT_DEVNODES_CHANGED);
        else
            SendDeviceChange(window, DBT_DEVICEARRIVAL, notice % 3 == 1 ? &com6 : &usb);
        lastNotice = ::GetTickCount();
        PumpUntil([] { return false; }, 120);
        ASSERT_EQ(listed(), 1u) << "refreshed during the burst, after notice " << notice;
    }
    ASSERT_TRUE(PumpUntil([&] { return listed() == 2; }, 3000));
    const DWORD settled = ::GetTickCount() - lastNotice;
    std::printf("last notice to refreshed list: %lu ms\n", static_cast<unsigned long>(settled));
    EXPECT_GE(settled, 1000u);
    // The refresh itself (two units asked) takes a few hundred milliseconds of that.
    EXPECT_LT(settled, 2500u);

    // Exactly one refresh: each asks every unit once.
    PumpUntil([] { return false; }, 1200);
    EXPECT_EQ(Count(m_units.Received(5), "ver\r"), 1);
    EXPECT_EQ(harness.ListEntries(),
              (std::vector<std::string>{"Orvane Amplifier, firmware version 007",
                                        "Orvane Mixer, firmware version 007"}));
    EXPECT_TRUE(harness.Boxes().Shown().empty());
    // The last notices and the refresh, with their times.
    const std::string log = ReadWholeFile(harness.Dialog().m_supportLog.Path());
    std::printf("%s", log.c_str());
    ::DeleteFileA(harness.Dialog().m_supportLog.Path().c_str());
}

TEST_F(HotPlug, SelectedUnitStaysSelectedOnAnotherPortButNotOnAPress) {
    MapSerial("U5", "COM5");
    MapSerial("U6", "COM6");
    StartUnits({5, 6, 7});
    DialogHarness harness(Bridge("U5", "Orvane Amplifier") + Bridge("U6", "Orvane Mixer"));
    CUpdateUtilityDlg& dialog = harness.Dialog();
    dialog.m_deviceSettleMs = 50;
    ASSERT_EQ(harness.ListSelection(), 1);
    dialog.m_equipmentList.SetCurSel(0);

    // The amplifier goes to another USB socket and Windows gives it COM7.
    MapSerial("U5", "COM7");
    const DeviceNotice com7 = DeviceNotice::Port("COM7");
    SendDeviceChange(dialog.m_hWnd, DBT_DEVICEREMOVECOMPLETE, &kCom5);
    SendDeviceChange(dialog.m_hWnd, DBT_DEVICEARRIVAL, &com7);
    ASSERT_TRUE(PumpUntil([&] { return harness.ListItemData().front() == 7; }, 3000));
    EXPECT_EQ(harness.ListItemData(), (std::vector<LRESULT>{7, 6}));
    EXPECT_EQ(harness.ListSelection(), 0);
    EXPECT_EQ(dialog.m_selectedPort, 7);
    EXPECT_TRUE(harness.Enabled(IDC_UPDATE));

    // A press of Refresh List selects the last unit found, as it always has.
    harness.Click(IDC_REFRESH_LIST);
    EXPECT_EQ(harness.ListSelection(), 1);
    EXPECT_EQ(dialog.m_selectedPort, 6);
    EXPECT_TRUE(harness.Boxes().Shown().empty());
}

TEST_F(HotPlug, AutomaticRefreshShowsFailuresInTheStatusLineOnly) {
    // The log goes where LOCALAPPDATA says, as the program's does.
    TempFolder appData("appdata");
    char saved[1024] = {};
    const DWORD had = ::GetEnvironmentVariableA("LOCALAPPDATA", saved, sizeof(saved));
    ::SetEnvironmentVariableA("LOCALAPPDATA", appData.Path().c_str());
    DialogHarness harness;
    ::SetEnvironmentVariableA("LOCALAPPDATA", had ? saved : nullptr);
    CUpdateUtilityDlg& dialog = harness.Dialog();
    const std::string logPath = appData.Path() + "\\Orvane\\Update Utility\\update.log";
    dialog.m_deviceSettleMs = 50;

    // A bridge whose port cannot be opened: nothing is behind COM13.
    MapSerial("U13", "COM13");
    harness.SetBridges(Bridge("U13", "Orvane Amplifier"));
    const DeviceNotice com13 = DeviceNotice::Port("COM13");
    SendDeviceChange(dialog.m_hWnd, DBT_DEVICEARRIVAL, &com13);
    ASSERT_TRUE(PumpUntil([&] { return harness.ListItemData().front() == 13; }, 3000));
    EXPECT_EQ(harness.ListEntries(),
              std::vector<std::string>{"Orvane Amplifier, firmware version Unknown"});
    EXPECT_TRUE(harness.Boxes().Shown().empty());
    EXPECT_EQ(harness.Text(IDC_STATUS), "Error opening device port");
    const std::string log = ReadWholeFile(logPath);
    // The program, the system and the bridge library come first.
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(Z Orvane Update Utility \d+\.\d+\.\d+\.\d+ \(64-bit\) on Windows \d)")))
        << log;
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(Z bridge library: [A-Z]:\\.*\\CP210xManufacturing\.dll, version )")))
        << log;
    EXPECT_EQ(log.find("registration failed"), std::string::npos);
    EXPECT_NE(log.find("unit 0: \"Orvane Amplifier\", serial \"U13\", 10C4:EA60, COM13, port not "
                       "opened: \"Error opening Master COM port\" (error "),
              std::string::npos);
    EXPECT_NE(log.find("status line: \"Error opening Master COM port\" (error "), std::string::npos)
        << log;
    EXPECT_NE(log.find("status line: \"Error opening device port\""), std::string::npos);

    std::printf("%s", log.c_str());

    // A press still shows both boxes.
    harness.Click(IDC_REFRESH_LIST);
    EXPECT_EQ(harness.Boxes().Texts(), (std::vector<std::string>{"Error opening Master COM port",
                                                                 "Error opening device port"}));
    for (const char* folder : {"\\Orvane\\Update Utility", "\\Orvane"}) {
        ::DeleteFileA(logPath.c_str());
        ::RemoveDirectoryA((appData.Path() + folder).c_str());
    }
}

// Transfers to a unit that stops reading, so that the write waits.
class Unplug : public UpdateBench {
  protected:
    void SetUp() override {
        UpdateBench::SetUp();
        Configure("mode=stall\nstall_after=4096");
        Dialog().m_deviceSettleMs = 50;
    }
    // Presses Update and, once the write waits, sends the notice; returns how long the transfer
    // went on after it (until the error box).
    DWORD UpdateAndSend(WPARAM event, const DeviceNotice& notice) {
        TempFile file(FirmwareImage(64 * 1024), ".ace");
        DWORD boxTick = 0;
        Boxes().OnShow([](void* tick) { *static_cast<DWORD*>(tick) = ::GetTickCount(); }, &boxTick);
        // Sent a while after the first chunk went out, when the unit has stopped reading.
        std::unique_ptr<PumpedAction> send;
        m_log.OnText([&](int id, const std::string& text) {
            if (id == IDC_STATUS && !send && text.find(" bytes written (") != std::string::npos)
                send = std::make_unique<PumpedAction>(
                    300, [&] { SendDeviceChange(Window(), event, &notice); });
        });
        Update(file);
        m_log.OnText(nullptr);
        Boxes().OnShow(nullptr, nullptr);
        EXPECT_TRUE(send && send->Done());
        return send ? boxTick - send->DoneTick() : 0xFFFFFFFF;
    }
};

TEST_F(Unplug, RemovalOfTheTransferPortEndsTheTransferAtOnce) {
    ShortenStallLimit(10000);
    SelectEquipment();
    const DWORD afterPortNotice = UpdateAndSend(DBT_DEVICEREMOVECOMPLETE, kCom5);
    std::printf("port removal to error box: %lu ms\n", static_cast<unsigned long>(afterPortNotice));
    EXPECT_LT(afterPortNotice, 1000u);
    EXPECT_EQ(Boxes().Texts(), std::vector<std::string>{kWriteError});
    EXPECT_EQ(m_harness.Text(IDC_STATUS), kWriteError);
    ExpectIdle();
    Reset();

    // The USB device behind the port, known by its serial number from a refresh.
    Configure("mode=stall\nstall_after=4096");
    RegistryKeys keys;
    ASSERT_TRUE(keys.SetText(
        "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\U5\\Device Parameters",
        "PortName", "COM5"));
    m_harness.SetBridges(Bridge("U5", "Orvane Amplifier"));
    m_harness.Click(IDC_REFRESH_LIST);
    ASSERT_EQ(m_harness.ListItemData(), std::vector<LRESULT>{5});
    const DWORD afterUsbNotice =
        UpdateAndSend(DBT_DEVICEREMOVECOMPLETE, DeviceNotice::UsbDevice(0x10C4, 0xEA60, "U5"));
    EXPECT_LT(afterUsbNotice, 1000u);
    EXPECT_EQ(Boxes().Texts(), std::vector<std::string>{kWriteError});
}

TEST_F(Unplug, OtherNoticesDuringAnUpdateChangeNothingUntilItEnds) {
    ShortenStallLimit(1500);
    SelectEquipment();
    const std::vector<std::string> selected = m_harness.ListEntries();
    struct Seen {
        DialogHarness* harness;
        std::vector<std::string> listed;
    } atTheBox{&m_harness, {}};
    Boxes().OnShow(
        [](void* context) {
            auto* seen = static_cast<Seen*>(context);
            seen->listed = seen->harness->ListEntries();
        },
        &atTheBox);
    TempFile file(FirmwareImage(64 * 1024), ".ace");
    const DeviceNotice com9 = DeviceNotice::Port("COM9");
    const DeviceNotice otherUsb = DeviceNotice::UsbDevice(0x10C4, 0xEA60, "U9");
    PumpedAction send(300, [&] {
        SendDeviceChange(Window(), DBT_DEVICEREMOVECOMPLETE, &com9);
        SendDeviceChange(Window(), DBT_DEVICEREMOVECOMPLETE, &otherUsb);
        SendDeviceChange(Window(), DBT_DEVNODES_CHANGED);
    });
    const DWORD took = Update(file);

    // The transfer waited for the stall limit: the notices named no port of its.
    EXPECT_TRUE(send.Done());
    EXPECT_GE(took, 1500u);
    EXPECT_EQ(Boxes().Texts(), std::vector<std::string>{kWriteError});
    // No refresh while it ran, not even while its error box was up; one once it had ended.
    EXPECT_EQ(atTheBox.listed, selected);
    EXPECT_EQ(m_harness.ListEntries(), selected);
    EXPECT_TRUE(PumpUntil(
        [&] {
            return m_harness.ListEntries() ==
                   std::vector<std::string>{"No Orvane equipment connected"};
        },
        3000));
}

} // namespace
