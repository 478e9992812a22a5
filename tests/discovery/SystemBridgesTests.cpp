// Bridges from the system's device list, for a PC without the bridge library.
#include "discovery/SystemBridges.h"
#include "res/resource.h"
#include "support/DialogHarness.h"
#include "support/PortDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

std::string Show(const std::vector<BridgeIdentity>& bridges) {
    std::string text;
    for (const BridgeIdentity& bridge : bridges) {
        char ids[16];
        snprintf(ids, sizeof(ids), "%04X:%04X", bridge.vid, bridge.pid);
        text += std::string(ids) + " " + bridge.serial + " COM" + std::to_string(bridge.port) +
                " \"" + bridge.product + "\"\n";
    }
    return text;
}

TEST(SystemBridges, DeviceIdsAreReadOnlyWhenWellFormed) {
    WORD vid = 0, pid = 0;
    EXPECT_TRUE(UsbIdsFromDeviceId("USB\\VID_10C4&PID_EA60&REV_0100", vid, pid));
    EXPECT_EQ(vid, 0x10C4);
    EXPECT_EQ(pid, 0xEA60);
    EXPECT_TRUE(UsbIdsFromDeviceId("usb\\vid_1a86&pid_7523\\5&1", vid, pid));
    EXPECT_EQ(vid, 0x1A86);
    EXPECT_EQ(pid, 0x7523);
    EXPECT_FALSE(UsbIdsFromDeviceId("USB\\VID_10C4&PID_EA", vid, pid));
    EXPECT_FALSE(UsbIdsFromDeviceId("USB\\VID_10G4&PID_EA60", vid, pid));
    EXPECT_FALSE(UsbIdsFromDeviceId("ACPI\\PNP0501\\1", vid, pid));

    EXPECT_EQ(SerialFromInstanceId("USB\\VID_10C4&PID_EA60\\0001"), "0001");
    // Made up by Windows for a bridge that reports no serial, or no serial part at all.
    EXPECT_EQ(SerialFromInstanceId("USB\\VID_10C4&PID_EA60\\5&2B3C1D&0&2"), "");
    EXPECT_EQ(SerialFromInstanceId("USB\\VID_10C4&PID_EA60"), "");
    EXPECT_EQ(SerialFromInstanceId("USB\\VID_10C4&PID_EA60\\"), "");
    EXPECT_EQ(SerialFromInstanceId(""), "");

    EXPECT_EQ(PortNumberFromComName("COM5"), 5);
    EXPECT_EQ(PortNumberFromComName("com130"), 130);
    EXPECT_EQ(PortNumberFromComName("COM"), -1);
    EXPECT_EQ(PortNumberFromComName("COM0"), -1);
    EXPECT_EQ(PortNumberFromComName("COM5 "), -1);
    EXPECT_EQ(PortNumberFromComName("LPT1"), -1);
    EXPECT_EQ(PortNumberFromComName("COM-1"), -1);
    EXPECT_EQ(PortNumberFromComName("COM99999"), -1);
}

TEST(SystemBridges, OnlyBridgesWithASerialAndAPortAreListed) {
    PortDevices devices;
    // By the bridge's service, by the maker's VID (another driver), and with the product text
    // the device reports.
    ASSERT_TRUE(devices.Add(Device("VID_10C4&PID_EA60", "0001", "COM5")));
    PortDevice otherDriver = Device("VID_10C4&PID_EA70", "A7", "COM6", "usbser");
    otherDriver.busDescription = "Orvane Amplifier";
    ASSERT_TRUE(devices.Add(otherDriver));
    ASSERT_TRUE(devices.Add(Device("VID_1234&PID_0001", "B2", "COM9")));
    // Passed over: another maker's serial device, no serial, no port, a malformed port.
    PortDevice receiver = Device("VID_1546&PID_01A7", "GPS1", "COM7", "usbser");
    receiver.description = "GNSS receiver";
    ASSERT_TRUE(devices.Add(receiver));
    ASSERT_TRUE(devices.Add(Device("VID_10C4&PID_EA61", "6&1A2B&0&1", "COM8")));
    ASSERT_TRUE(devices.Add(Device("VID_10C4&PID_EA62", "NOPORT", "")));
    ASSERT_TRUE(devices.Add(Device("VID_10C4&PID_EA63", "BADPORT", "COMX")));

    const std::string listed = Show(ListSystemBridges());
    EXPECT_NE(listed.find("10C4:EA60 0001 COM5 \"Silicon Labs CP210x USB to UART Bridge\"\n"),
              std::string::npos)
        << listed;
    EXPECT_NE(listed.find("10C4:EA70 A7 COM6 \"Orvane Amplifier\"\n"), std::string::npos) << listed;
    EXPECT_NE(listed.find("1234:0001 B2 COM9 "), std::string::npos) << listed;
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 3) << listed;
}

TEST(SystemBridges, UnusedWhileTheLibraryLoads) {
    PortDevices devices;
    ASSERT_TRUE(devices.Add(Device("VID_10C4&PID_EA60", "REGONLY", "COM5")));
    // The simulated library reports no bridge.
    DialogHarness harness("");
    EXPECT_EQ(harness.ListEntries(), std::vector<std::string>{"No Orvane equipment connected"});
    EXPECT_TRUE(harness.Boxes().Texts().empty());
    EXPECT_EQ(harness.Text(IDC_STATUS), "");
}

} // namespace
