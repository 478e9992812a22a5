// The window follows the hardware: device notices (sent as the system sends them) refresh the
// list once they have stopped, asking the chosen unit, units that are new, that a notice named
// or whose last answer failed; the chosen unit stays selected on another port and nothing takes
// its place while it is missing; and a removal of the unit being written to ends the transfer
// at once.
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

struct Notice {
    WPARAM event;
    const DeviceNotice* notice; // nullptr for a device-tree change
};

// A window whose support log goes to a folder of its own, so that its refreshes after device
// changes can be counted, and which refreshes 50 ms after the last notice.
class LoggedWindow {
  public:
    explicit LoggedWindow(const std::string& bridges) : m_harness(bridges) {
        Dialog().m_supportLog = SupportLog(m_logFolder.Path());
        Dialog().m_deviceSettleMs = 50;
    }
    ~LoggedWindow() { ::DeleteFileA(Dialog().m_supportLog.Path().c_str()); }

    DialogHarness& Harness() { return m_harness; }
    CUpdateUtilityDlg& Dialog() { return m_harness.Dialog(); }

    // Sends the notices; true once a refresh after device changes has followed them.
    bool SendAndAwaitRefresh(const std::vector<Notice>& notices) {
        const std::string log = Dialog().m_supportLog.Path();
        const int before = Count(ReadWholeFile(log), "list refresh after device");
        for (const Notice& notice : notices)
            SendDeviceChange(Dialog().m_hWnd, notice.event, notice.notice);
        return PumpUntil(
            [&] { return Count(ReadWholeFile(log), "list refresh after device") > before; }, 3000);
    }

  private:
    TempFolder m_logFolder{"log"};
    DialogHarness m_harness;
};

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
    // The refresh itself (the new unit asked) takes a few hundred milliseconds of that.
    EXPECT_LT(settled, 2500u);

    // Exactly one refresh; it asked the new unit and the chosen one.
    PumpUntil([] { return false; }, 1200);
    const std::string log = ReadWholeFile(harness.Dialog().m_supportLog.Path());
    EXPECT_EQ(Count(log, "list refresh after device changes"), 1);
    for (int port : {5, 6}) {
        ASSERT_TRUE(m_units.WaitReceived(port, 4));
        EXPECT_EQ(m_units.Received(port), "ver\r");
    }
    EXPECT_EQ(harness.ListEntries(),
              (std::vector<std::string>{"Orvane Amplifier, firmware version 007",
                                        "Orvane Mixer, firmware version 007"}));
    EXPECT_TRUE(harness.Boxes().Shown().empty());
    // The last notices and the refresh, with their times.
    std::printf("%s", log.c_str());
    ::DeleteFileA(harness.Dialog().m_supportLog.Path().c_str());
}

TEST_F(HotPlug, NoticeBeforeTheWindowIsShownIsHandledOnceItIs) {
    // The first refresh's boxes for a port that cannot be opened come up before the window is
    // shown; the mixer is plugged in while the first one is up, and the settle time passes.
    MapSerial("U13", "COM13");
    MapSerial("U6", "COM6");
    StartUnits({6});
    const std::string amplifier = Bridge("U13", "Orvane Amplifier");
    DialogHarness harness(amplifier, false);
    harness.Dialog().m_deviceSettleMs = 50;
    struct Plug {
        DialogHarness* harness;
        std::string bridges;
        bool sent = false;
        bool windowHidden = false;
    } plug{&harness, amplifier + Bridge("U6", "Orvane Mixer")};
    harness.Boxes().OnShow(
        [](void* context) {
            auto& plug = *static_cast<Plug*>(context);
            if (plug.sent)
                return;
            plug.sent = true;
            HWND window = plug.harness->Dialog().m_hWnd;
            plug.windowHidden = !::IsWindowVisible(window);
            plug.harness->SetBridges(plug.bridges);
            const DeviceNotice com6 = DeviceNotice::Port("COM6");
            SendDeviceChange(window, DBT_DEVICEARRIVAL, &com6);
            PumpUntil([] { return false; }, 300);
        },
        &plug);
    harness.Create();
    harness.Boxes().OnShow(nullptr, nullptr);
    ASSERT_TRUE(plug.sent);
    ASSERT_TRUE(plug.windowHidden);

    EXPECT_TRUE(PumpUntil([&] { return harness.ListEntries().size() == 2; }, 3000));
    EXPECT_EQ(harness.ListEntries(),
              (std::vector<std::string>{"Orvane Amplifier, firmware version Unknown",
                                        "Orvane Mixer, firmware version 007"}));
    EXPECT_EQ(harness.Boxes().Texts(), (std::vector<std::string>{"Error opening Master COM port",
                                                                 "Error opening device port"}));
}

TEST_F(HotPlug, SelectedUnitStaysSelectedOnAnotherPortButNotOnAPress) {
    MapSerial("U5", "COM5");
    MapSerial("U6", "COM6");
    StartUnits({5, 6, 7});
    DialogHarness harness(Bridge("U5", "Orvane Amplifier") + Bridge("U6", "Orvane Mixer"));
    CUpdateUtilityDlg& dialog = harness.Dialog();
    dialog.m_deviceSettleMs = 50;
    ASSERT_EQ(harness.ListSelection(), 1);
    harness.Choose(0);

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

// Two units that read alike (the same product, model and version), told apart only by their
// bridges' serial numbers: A on COM5 is chosen, then unplugged for a moment.
const std::string kUnitA = Bridge("A1", "Orvane Mixer");
const std::string kUnitB = Bridge("B2", "Orvane Mixer");
const char kChosenAMissing[] = "The chosen unit is not connected: Orvane Mixer, serial A1";

class ChosenUnit : public BridgedUnits {
  protected:
    void SetUp() override {
        BridgedUnits::SetUp();
        MapSerial("A1", "COM5");
        MapSerial("B2", "COM6");
        StartUnits({5, 6, 7});
        m_harness = std::make_unique<DialogHarness>(kUnitA + kUnitB);
        Dialog().m_deviceSettleMs = 50;
        ASSERT_EQ(m_harness->ListEntries(),
                  std::vector<std::string>(2, "Orvane Mixer, firmware version 007"));
        m_harness->Choose(0);
        m_harness->SetBridges(kUnitB);
        SendDeviceChange(Dialog().m_hWnd, DBT_DEVICEREMOVECOMPLETE, &kCom5);
        ASSERT_TRUE(PumpUntil([this] { return m_harness->ListEntries().size() == 1; }, 3000));
        ASSERT_EQ(m_harness->Text(IDC_STATUS), kChosenAMissing);
    }
    CUpdateUtilityDlg& Dialog() { return m_harness->Dialog(); }
    // A comes back, first in the list, on this port.
    void PlugABackIn(const std::string& port) {
        MapSerial("A1", port);
        m_harness->SetBridges(kUnitA + kUnitB);
        const DeviceNotice arrival = DeviceNotice::Port(port);
        SendDeviceChange(Dialog().m_hWnd, DBT_DEVICEARRIVAL, &arrival);
        ASSERT_TRUE(PumpUntil([this] { return m_harness->ListEntries().size() == 2; }, 3000));
    }

    std::unique_ptr<DialogHarness> m_harness;
};

TEST_F(ChosenUnit, IsSelectedAgainWhenBackAndNoOtherUnitMeanwhile) {
    // Nothing takes A's place, so Update has no unit to program.
    EXPECT_EQ(m_harness->ListSelection(), CB_ERR);
    EXPECT_EQ(Dialog().m_selectedPort, 0xFF);
    TempFile file(FirmwareImage(5000), ".ace");
    m_harness->SetText(IDC_SOURCE_PATH, file.Path());
    m_harness->Click(IDC_UPDATE);
    EXPECT_EQ(m_harness->Boxes().Texts(),
              std::vector<std::string>{
                  "The file cannot be checked: no equipment on COM0 to COM16 is selected"});
    m_harness->Boxes().Clear();

    // Back on another port: A alone is selected again, and Update programs it.
    PlugABackIn("COM7");
    EXPECT_EQ(m_harness->ListItemData(), (std::vector<LRESULT>{7, 6}));
    EXPECT_EQ(m_harness->ListSelection(), 0);
    EXPECT_EQ(Dialog().m_selectedPort, 7);
    EXPECT_NE(m_harness->Text(IDC_STATUS), kChosenAMissing);
    m_harness->Click(IDC_UPDATE);
    EXPECT_EQ(m_harness->Boxes().Texts(),
              std::vector<std::string>{"Your equipment has been successfully updated"});
    const std::string firmware = ReadWholeFile(file.Path());
    EXPECT_TRUE(m_units.WaitReceived(7, 8 + firmware.size()));
    EXPECT_EQ(m_units.Received(7), "ver\rpgm\r" + firmware);
    for (int other : {5, 6})
        EXPECT_EQ(SimEquipment::CountEventLines(m_units.Events(other), "pgm"), 0)
            << m_units.Events(other);
}

TEST_F(ChosenUnit, PressWhileItIsMissingChoosesTheLastUnitFound) {
    // The press selects the last unit found, as it always has, and that unit is chosen now: A's
    // return does not take the selection back.
    m_harness->Click(IDC_REFRESH_LIST);
    EXPECT_EQ(m_harness->ListSelection(), 0);
    EXPECT_EQ(Dialog().m_selectedPort, 6);
    EXPECT_EQ(m_harness->Text(IDC_STATUS), "");
    PlugABackIn("COM5");
    EXPECT_EQ(m_harness->ListSelection(), 1);
    EXPECT_EQ(Dialog().m_selectedPort, 6);
    EXPECT_TRUE(m_harness->Boxes().Shown().empty());
}

TEST_F(HotPlug, RefreshOfItsOwnAsksOnlyTheChosenUnitNewUnitsAndUnitsANoticeNamed) {
    MapSerial("U5", "COM5");
    MapSerial("U6", "COM6");
    StartUnits({5, 6});
    Configure(5, "reply=030C");
    LoggedWindow window(Bridge("U5", "Orvane Amplifier"));
    DialogHarness& harness = window.Harness();
    CUpdateUtilityDlg& dialog = window.Dialog();
    ASSERT_TRUE(m_units.WaitEvent(5, "close"));
    harness.SetBridges(Bridge("U5", "Orvane Amplifier") + Bridge("U6", "Orvane Mixer"));

    // The amplifier, listed first, stays the chosen unit and is asked every time.
    const DeviceNotice com6 = DeviceNotice::Port("COM6");
    const DeviceNotice mixerUsb = DeviceNotice::UsbDevice(0x10C4, 0xEA60, "U6");
    const DeviceNotice mouse = DeviceNotice::UsbDevice(0x046D, 0xC077, "M1");
    const struct {
        const char* what;
        std::vector<Notice> notices; // none: Refresh List is pressed
        std::vector<int> asked;
    } cases[] = {
        {"device tree changed, another port arrived",
         {{DBT_DEVNODES_CHANGED, nullptr}, {DBT_DEVICEARRIVAL, &com6}},
         {5, 6}},
        {"device tree changed", {{DBT_DEVNODES_CHANGED, nullptr}}, {5}},
        {"a mouse arrived", {{DBT_DEVICEARRIVAL, &mouse}}, {5}},
        {"the amplifier's port arrived", {{DBT_DEVICEARRIVAL, &kCom5}}, {5}},
        {"the mixer's USB device went and came back",
         {{DBT_DEVICEREMOVECOMPLETE, &mixerUsb}, {DBT_DEVICEARRIVAL, &mixerUsb}},
         {5, 6}},
        {"Refresh List pressed", {}, {5, 6}},
    };
    for (const auto& c : cases) {
        for (int port : {5, 6})
            m_units.ClearReceived(port);
        if (c.notices.empty())
            harness.Click(IDC_REFRESH_LIST);
        else
            ASSERT_TRUE(window.SendAndAwaitRefresh(c.notices)) << c.what;
        for (int port : c.asked) {
            EXPECT_TRUE(m_units.WaitEvent(port, "close")) << c.what;
            EXPECT_EQ(m_units.Received(port), "ver\r") << c.what << ", COM" << port;
        }
        for (int port : {5, 6}) {
            if (std::find(c.asked.begin(), c.asked.end(), port) != c.asked.end())
                continue;
            EXPECT_EQ(m_units.Received(port), "") << c.what << ", COM" << port;
            EXPECT_EQ(m_units.Events(port).find("open"), std::string::npos)
                << c.what << ", COM" << port << ": " << m_units.Events(port);
        }
        // A unit not asked is listed with its last answer.
        EXPECT_EQ(harness.ListEntries(),
                  (std::vector<std::string>{"Orvane Amplifier, firmware version 012",
                                            "Orvane Mixer, firmware version 007"}))
            << c.what;
        EXPECT_EQ(dialog.m_portFirmwareVersion[5], 12) << c.what;
    }
}

TEST_F(HotPlug, AUnitWrittenToIsAskedAgainByTheNextRefreshOfItsOwn) {
    MapSerial("U5", "COM5");
    StartUnits({5});
    Configure(5, "mode=stall\nstall_after=4096");
    LoggedWindow window(Bridge("U5", "Orvane Amplifier"));
    DialogHarness& harness = window.Harness();
    window.Dialog().m_writeStallLimitMs = 500;
    TempFile file(FirmwareImage(64 * 1024), ".ace");
    harness.SetText(IDC_SOURCE_PATH, file.Path());
    harness.Click(IDC_UPDATE);
    ASSERT_EQ(harness.Boxes().Texts(), std::vector<std::string>{kWriteError});
    ASSERT_TRUE(m_units.WaitEvent(5, "close"));

    // A notice that names no unit: the failed unit, reading again, is asked all the same.
    Configure(5, "mode=normal");
    m_units.ClearReceived(5);
    ASSERT_TRUE(window.SendAndAwaitRefresh({{DBT_DEVNODES_CHANGED, nullptr}}));
    // The bytes the stalled write left in the line may be recorded after the clear, before the
    // query: the session is told by its events.
    EXPECT_TRUE(m_units.WaitEvent(5, "close"));
    const std::string events = m_units.Events(5);
    EXPECT_EQ(SimEquipment::CountEventLines(events, "ver"), 1) << events;
    EXPECT_TRUE(m_units.Received(5).ends_with("ver\r"));
}

TEST_F(HotPlug, RefreshOfItsOwnAsksTheChosenUnitAndUnitsWhoseAnswerFailedAgain) {
    // The chosen amplifier at 012, a mixer that answered and one that did not.
    MapSerial("U5", "COM5");
    MapSerial("U6", "COM6");
    MapSerial("U7", "COM7");
    StartUnits({5, 6, 7});
    Configure(5, "reply=030C");
    Configure(7, "mode=silent");
    LoggedWindow window(Bridge("U5", "Orvane Amplifier") + Bridge("U6", "Orvane Mixer") +
                        Bridge("U7", "Orvane Mixer"));
    DialogHarness& harness = window.Harness();
    harness.Choose(0);
    for (int port : {5, 6, 7})
        ASSERT_TRUE(m_units.WaitEvent(port, "close")) << "COM" << port;
    ASSERT_EQ(harness.ListEntries().back(), "Orvane Mixer, firmware version Unknown");

    // Another program updates the amplifier to 014 without a re-plug; the silent mixer wakes.
    Configure(5, "reply=030E");
    Configure(7, "mode=normal");
    for (int port : {5, 6, 7})
        m_units.ClearReceived(port);
    ASSERT_TRUE(window.SendAndAwaitRefresh({{DBT_DEVNODES_CHANGED, nullptr}}));
    for (int port : {5, 7}) {
        EXPECT_TRUE(m_units.WaitEvent(port, "close")) << "COM" << port;
        EXPECT_EQ(m_units.Received(port), "ver\r") << "COM" << port;
    }
    EXPECT_EQ(m_units.Events(6).find("open"), std::string::npos) << m_units.Events(6);
    EXPECT_EQ(harness.ListEntries(),
              (std::vector<std::string>{"Orvane Amplifier, firmware version 014",
                                        "Orvane Mixer, firmware version 007",
                                        "Orvane Mixer, firmware version 007"}));
    EXPECT_EQ(harness.ListSelection(), 0);

    // A 013 file is a downgrade now: refused without Shift, and nothing is sent.
    TempFile file(FirmwareImage(5000, "03", "13"), ".ace");
    harness.SetText(IDC_SOURCE_PATH, file.Path());
    harness.Click(IDC_UPDATE);
    EXPECT_EQ(harness.Boxes().Texts(),
              std::vector<std::string>{"This file version is older than the current firmware"});
    EXPECT_EQ(SimEquipment::CountEventLines(m_units.Events(5), "pgm"), 0) << m_units.Events(5);
    harness.Boxes().Clear();

    // The amplifier's port goes away without a notice that names it: the re-ask fails in the
    // status line and the log, without a box.
    Configure(5, "mode=hangup\nhangup_after=0");
    ASSERT_TRUE(window.SendAndAwaitRefresh({{DBT_DEVNODES_CHANGED, nullptr}}));
    EXPECT_TRUE(harness.Boxes().Shown().empty());
    EXPECT_EQ(harness.ListEntries().front(), "Orvane Amplifier, firmware version Unknown");
    EXPECT_EQ(harness.Text(IDC_STATUS), "Error opening device port");
    const std::string log = ReadWholeFile(window.Dialog().m_supportLog.Path());
    EXPECT_NE(log.find("status line: \"Error opening Master COM port\" (error "), std::string::npos)
        << log;
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
