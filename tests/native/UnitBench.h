#pragma once
// The bench of the native engine tests: one simulated unit on a pseudo-terminal, started once
// for the whole program, and a serial line the test opens to it.

#include "NativeSimEquipment.h"
#include "device/SerialLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class UnitBench : public ::testing::Test {
  protected:
    static constexpr int kPort = 1;

    static void SetUpTestSuite();
    static void TearDownTestSuite();
    // Every test starts with the unit's defaults and empty records.
    void SetUp() override;
    void TearDown() override;

    void Configure(const std::string& behaviour) {
        ASSERT_TRUE(s_unit.Configure(kPort, behaviour)) << s_unit.Error();
    }
    // Writes the bytes to a file of the test's own, removed at its end; returns its path.
    std::string WriteFile(const std::string& bytes);

    static NativeSimEquipment s_unit;
    SerialLine m_line;

  private:
    std::vector<std::string> m_files;
};
