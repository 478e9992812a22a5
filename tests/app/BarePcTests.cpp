// The real program on a PC without the bridge library: the bridges come from the system's device
// list, and are listed and updated like those the library reports.
#include "RealProgram.h"
#include "res/resource.h"
#include "support/PortDevices.h"

#include <cstdio>

namespace {

class BarePc : public RealProgram {
  protected:
    // The program alone in a folder, without the bridge library beside it.
    std::string ProgramWithoutLibrary() {
        return m_folder.Add("OrvaneUpdateUtility.exe", ReadWholeFile(ProgramPath()));
    }
    void Bridge(const std::string& serial, int port, const std::string& product,
                const std::string& service = "silabser",
                const std::string& ids = "VID_10C4&PID_EA60") {
        PortDevice device = Device(ids, serial, "COM" + std::to_string(port), service);
        device.busDescription = product;
        ASSERT_TRUE(m_devices.Add(device));
    }

    // The support log of the user the tests run as.
    static std::string SupportLog() {
        char folder[MAX_PATH] = {};
        ::GetEnvironmentVariableA("LOCALAPPDATA", folder, MAX_PATH);
        return ReadWholeFile(std::string(folder) + "\\Orvane\\Update Utility\\update.log");
    }

    TempFolder m_folder{"bare-pc"};
    PortDevices m_devices;
};

TEST_F(BarePc, BridgesInTheDeviceListAreListedAndUpdatedWithoutABox) {
    Bridge("0001", 5, "Orvane Amplifier");
    Bridge("0002", 6, "Orvane Mixer");
    // Another maker's serial device: never asked for its version.
    Bridge("GPS1", 7, "GNSS receiver", "usbser", "VID_1546&PID_01A7");
    ASSERT_TRUE(m_units.Start({5, 6, 7})) << m_units.Error();
    ASSERT_TRUE(m_units.Configure(5, "reply=0105"));
    ASSERT_TRUE(m_units.Configure(6, "reply=1303"));
    const std::string image = FirmwareImage(20 * 1024 + 3, "01", "06");
    TempFile firmware(image, ".ace");

    Launch(ProgramWithoutLibrary());
    EXPECT_EQ(m_window.Entries(),
              (std::vector<std::string>{"Orvane Amplifier, firmware version 005",
                                        "Orvane Mixer, firmware version 003"}));
    EXPECT_EQ(m_window.Text(IDC_STATUS),
              "Bridges from the system's device list: CP210xManufacturing.dll not loaded");
    EXPECT_EQ(m_units.Received(7), "");
    EXPECT_NE(SupportLog().find("Bridges from the system's device list: CP210xManufacturing.dll "
                                "not loaded (error 126: "),
              std::string::npos);

    m_window.Select(0);
    m_window.SetText(1005, firmware.Path());
    ASSERT_TRUE(m_window.Sync());
    UpdateCompletes({5, 6}, image);
    EXPECT_EQ(m_units.Received(7), "");
}

// Not a check: one press of Refresh List with four units, through each source. Run with
//   app_tests.exe --gtest_also_run_disabled_tests --gtest_filter=*BarePc*Timing*
TEST_F(BarePc, DISABLED_RefreshTimingThroughEachSource) {
    std::vector<std::pair<int, std::string>> units;
    for (int port = 10; port < 14; ++port) {
        Bridge("T" + std::to_string(port), port, "Unit 0105");
        units.push_back({port, "0105"});
    }
    Units(units); // the same four, reported by the bridge library too
    const std::pair<const char*, std::string> programs[] = {
        {"bridge library", ProgramPath()}, {"device list", ProgramWithoutLibrary()}};
    for (const auto& [source, program] : programs) {
        Launch(program);
        ASSERT_EQ(m_window.Entries().size(), 4u);
        LARGE_INTEGER frequency, start, stop;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        // Returns once the press has been handled.
        ::SendMessageA(m_window.Handle(), WM_COMMAND, MAKEWPARAM(IDC_REFRESH_LIST, BN_CLICKED),
                       reinterpret_cast<LPARAM>(m_window.Control(IDC_REFRESH_LIST)));
        ::QueryPerformanceCounter(&stop);
        EXPECT_EQ(m_window.Entries().size(), 4u);
        std::printf("refresh of 4 units through the %s: %.1f ms\n", source,
                    1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
        Exit();
    }
}

} // namespace
