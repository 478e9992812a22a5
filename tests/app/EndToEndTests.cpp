// One whole update through the real program, as the demo performs it.
#include "RealProgram.h"

namespace {

using EndToEnd = RealProgram;

TEST_F(EndToEnd, FirstOfTwoUnitsIsReprogrammedAndTheProgramEnds) {
    Units({{5, "0105"}, {6, "0203"}});
    const std::string image = FirmwareImage(100 * 1024 + 17, "01", "06");
    TempFile firmware(image, ".ace");
    Launch();
    EXPECT_EQ(m_window.Entries(), (std::vector<std::string>{"Unit 0105, firmware version 005",
                                                            "Unit 0203, firmware version 003"}));
    m_window.Select(0);
    m_window.SetText(1005, firmware.Path());
    ASSERT_TRUE(m_window.Sync());
    m_units.ClearReceived(5);
    m_units.ClearReceived(6);

    EXPECT_EQ(UpdateAndConfirm(),
              "Transfer Complete: Your equipment has been successfully updated");
    ASSERT_TRUE(m_tool.WaitExit(kExitLimitMs));
    EXPECT_EQ(m_tool.ExitCode(), 0u);
    ASSERT_TRUE(m_units.WaitEvent(5, "close bytes="));
    EXPECT_TRUE(m_units.Received(5) == "pgm\r" + image)
        << m_units.Received(5).size() << " bytes received";
    EXPECT_EQ(m_units.Received(6), "");
    EXPECT_EQ(StoredBytes(), Stored(firmware.Path()));
}

} // namespace
