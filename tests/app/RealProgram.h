#pragma once
// The real OrvaneUpdateUtility.exe, run as a child process beside the simulated bridge library
// and worked from outside by the scripted user, with its setting in Wine's registry.

#include "ScriptedUser.h"
#include "SimEquipment.h"
#include "support/ChildTest.h"
#include "support/FirmwareImage.h"
#include "support/RegistryKeys.h"
#include "support/TempFile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

class RealProgram : public ::testing::Test {
  protected:
    static constexpr char kAppKey[] = "Software\\Orvane\\OrvaneUpdateUtility";
    static constexpr char kSettingsKey[] = "Software\\Orvane\\OrvaneUpdateUtility\\Settings";
    static constexpr DWORD kShowLimitMs = 20000;
    static constexpr DWORD kBoxLimitMs = 20000;
    static constexpr DWORD kExitLimitMs = 10000;

    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppKey);
        // Inherited by the program, whose bridge library reads it.
        ::SetEnvironmentVariableA("ORVANE_SIM_BRIDGES", m_bridges.Path().c_str());
    }
    void TearDown() override {
        m_tool.Kill();
        ::SetEnvironmentVariableA("ORVANE_SIM_BRIDGES", nullptr);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppKey);
    }

    // Units behind bridges, in index order: port and "ver" reply of each, e.g. {5, "0105"}.
    void Units(const std::vector<std::pair<int, std::string>>& units) {
        std::string bridges;
        std::vector<int> ports;
        for (const auto& [port, reply] : units) {
            const std::string serial = "T" + std::to_string(port);
            bridges += "product=\"Unit " + reply + "\" serial=" + serial + "\n";
            ASSERT_TRUE(
                m_ports.SetText("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\" +
                                    serial + "\\Device Parameters",
                                "PortName", "COM" + std::to_string(port)));
            ports.push_back(port);
        }
        m_bridges.Write(bridges);
        ASSERT_TRUE(m_units.Start(ports)) << m_units.Error();
        for (const auto& [port, reply] : units)
            ASSERT_TRUE(m_units.Configure(port, "reply=" + reply)) << m_units.Error();
    }

    // The program beside the tests, or the one that ORVANE_PROGRAM names (an installed one).
    static std::string ProgramPath() {
        char named[MAX_PATH] = {};
        const DWORD length = ::GetEnvironmentVariableA("ORVANE_PROGRAM", named, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            return named;
        std::string program = ThisProgram();
        program.erase(program.find_last_of('\\') + 1);
        return program + "OrvaneUpdateUtility.exe";
    }

    // Starts the program (by default the one beside this test program) and waits for its window.
    // A run left from an earlier launch is ended first.
    void Launch(const std::string& exe = ProgramPath()) {
        m_tool.Kill();
        ASSERT_TRUE(m_tool.Start(exe)) << "system error " << m_tool.StartError();
        ASSERT_TRUE(m_window.Attach(m_tool.Id(), kShowLimitMs))
            << "no window; message box: " << scripted::FindMessageBox(m_tool.Id()).text;
    }

    // Presses Exit and waits for the process to end.
    void Exit() {
        m_window.Press(IDCANCEL);
        ASSERT_TRUE(m_tool.WaitExit(kExitLimitMs));
    }

    // Presses Update and confirms the box that follows; returns its caption and text.
    std::string UpdateAndConfirm() {
        m_window.Press(1002);
        const scripted::MessageBoxSeen box = scripted::WaitMessageBox(m_tool.Id(), kBoxLimitMs);
        if (!box.window)
            return "no message box";
        scripted::Answer(box.window, IDOK);
        return box.caption + ": " + box.text;
    }

    // Presses Update with what the units on these ports received so far cleared, expects the
    // completion box and the program's end, and checks that the unit on the first port received
    // "pgm\r" and the image, and the others nothing.
    void UpdateCompletes(const std::vector<int>& ports, const std::string& image) {
        for (int port : ports)
            m_units.ClearReceived(port);
        EXPECT_EQ(UpdateAndConfirm(),
                  "Transfer Complete: Your equipment has been successfully updated");
        ASSERT_TRUE(m_tool.WaitExit(kExitLimitMs));
        ASSERT_TRUE(m_units.WaitEvent(ports.front(), "close bytes="));
        EXPECT_TRUE(m_units.Received(ports.front()) == "pgm\r" + image)
            << m_units.Received(ports.front()).size() << " bytes received";
        for (size_t i = 1; i < ports.size(); ++i)
            EXPECT_EQ(m_units.Received(ports[i]), "") << "COM" << ports[i];
    }

    // The stored "LastFile" exactly as the registry holds it; "absent" when there is none.
    static std::string StoredBytes() {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "absent";
        DWORD type = 0;
        char value[1024] = {};
        DWORD size = sizeof(value);
        const LONG status = ::RegQueryValueExA(key, "LastFile", nullptr, &type,
                                               reinterpret_cast<BYTE*>(value), &size);
        ::RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return "absent";
        return (type == REG_SZ ? "" : "type " + std::to_string(type) + ": ") +
               std::string(value, size);
    }
    // A text value as the program itself writes it: with its terminating NUL.
    static std::string Stored(const std::string& text) { return text + '\0'; }
    void Store(const std::string& bytes, DWORD type = REG_SZ) {
        ASSERT_TRUE(m_settings.SetBytes(kSettingsKey, "LastFile", bytes, type));
    }

    TempFile m_bridges{"", ".txt"};
    RegistryKeys m_ports;
    RegistryKeys m_settings{HKEY_CURRENT_USER};
    SimEquipment m_units;
    scripted::ToolProcess m_tool;
    scripted::ToolWindow m_window;
};
