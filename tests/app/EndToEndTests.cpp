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
    UpdateCompletes({5, 6}, image);
    EXPECT_EQ(m_tool.ExitCode(), 0u);
    EXPECT_EQ(StoredBytes(), Stored(firmware.Path()));
}

} // namespace
