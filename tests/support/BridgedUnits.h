#pragma once
// A fixture of units behind bridges: Wine's registry maps each bridge's serial to its COM port,
// as the USB driver does, and simulated equipment answers on those ports.

#include "SimEquipment.h"
#include "support/RegistryKeys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// One line of the simulated library's description: a bridge with the IDs the registry keys use,
// and more of its settings when given.
inline std::string Bridge(const std::string& serial, const std::string& product,
                          const std::string& more = "") {
    return "vid=0x10C4 pid=0xEA60 product=\"" + product + "\" serial=" + serial +
           (more.empty() ? "" : " " + more) + "\n";
}

class BridgedUnits : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_keys.Exists("SYSTEM\\CurrentControlSet\\Enum\\USB"))
            << "left over from an earlier test";
    }
    // The USB driver's key that gives the bridge with this serial its port name.
    void MapSerial(const std::string& serial, const std::string& portName) {
        ASSERT_TRUE(m_keys.SetText("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\" +
                                       serial + "\\Device Parameters",
                                   "PortName", portName));
    }
    void StartUnits(const std::vector<int>& ports) {
        ASSERT_TRUE(m_units.Start(ports)) << m_units.Error();
    }
    void Configure(int port, const std::string& behaviour) {
        ASSERT_TRUE(m_units.Configure(port, behaviour)) << m_units.Error();
    }

    RegistryKeys m_keys;
    SimEquipment m_units;
};
