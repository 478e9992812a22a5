#pragma once
// A bench for the engine's tests: the simulated unit on one COM port and a serial line the test
// opens to it, with no window.

#include "SimEquipment.h"
#include "device/SerialLine.h"

#include <gtest/gtest.h>

#include <string>

class LineBench : public ::testing::Test {
  protected:
    explicit LineBench(int port) : m_port(port), m_portName("COM" + std::to_string(port)) {}
    // Starts the unit and, when open is true, opens the line to it.
    void StartUnit(bool open);
    void Configure(const std::string& behaviour) {
        ASSERT_TRUE(m_unit.Configure(m_port, behaviour)) << m_unit.Error();
    }
    // Everything the unit received: the line is closed first and the unit's record of the
    // session awaited, so no byte can still be on its way.
    std::string ReceivedInAll();

    const int m_port;
    const std::string m_portName;
    SimEquipment m_unit;
    SerialLine m_line;
};
