// The one setting, "LastFile", across runs of the real program.
#include "RealProgram.h"

namespace {

constexpr int kPathBox = 1005;
constexpr int kBrowse = 1006;

using Settings = RealProgram;

TEST_F(Settings, FirstRunShowsAnEmptyBoxAndStoresTheEmptyPathAtExit) {
    Launch();
    EXPECT_EQ(m_window.Text(kPathBox), "");
    EXPECT_EQ(StoredBytes(), "absent");
    Exit();
    EXPECT_EQ(StoredBytes(), Stored(""));
}

TEST_F(Settings, StoredPathIsShownAndWrittenBackAtExit) {
    // Stored with bytes after its terminating NUL: the rewrite at exit shows as their loss, with
    // the text unchanged.
    Store(Stored("C:\\Firmware\\amplifier.ace") + "old tail");
    Launch();
    EXPECT_EQ(m_window.Text(kPathBox), "C:\\Firmware\\amplifier.ace");
    Exit();
    EXPECT_EQ(StoredBytes(), Stored("C:\\Firmware\\amplifier.ace"));
}

TEST_F(Settings, ExpandableStoredPathIsReadAsItsTextAndWrittenBackAsText) {
    Store(Stored("%USERPROFILE%\\Firmware\\amplifier.ace"), REG_EXPAND_SZ);
    Launch();
    EXPECT_EQ(m_window.Text(kPathBox), "%USERPROFILE%\\Firmware\\amplifier.ace");
    Exit();
    EXPECT_EQ(StoredBytes(), Stored("%USERPROFILE%\\Firmware\\amplifier.ace"));
}

TEST_F(Settings, PathChosenWithBrowseIsStored) {
    TempFile chosen(FirmwareImage(1024, "01", "06"), ".ace");
    Launch();
    m_window.Press(kBrowse);
    HWND fileDialog = scripted::WaitFileDialog(m_tool.Id(), kShowLimitMs);
    ASSERT_NE(fileDialog, nullptr);
    EXPECT_EQ(scripted::FileTypes(fileDialog),
              (std::vector<std::string>{"Firmware Binary Files (*.ace)", "All Files (*.*)"}));
    ASSERT_TRUE(scripted::ChooseFile(fileDialog, chosen.Path()));
    EXPECT_TRUE(scripted::WaitUntil(5000, [&] { return m_window.Text(kPathBox) == chosen.Path(); }))
        << m_window.Text(kPathBox);
    Exit();
    EXPECT_EQ(StoredBytes(), Stored(chosen.Path()));
}

TEST_F(Settings, PathTypedAndSentByASuccessfulUpdateIsStored) {
    Units({{5, "0105"}});
    TempFile firmware(FirmwareImage(8192, "01", "06"), ".ace");
    Store(Stored("C:\\Firmware\\previous.ace"));
    Launch();
    // Typed, not pulled by any action before Update.
    m_window.SetText(kPathBox, firmware.Path());
    EXPECT_EQ(UpdateAndConfirm(),
              "Transfer Complete: Your equipment has been successfully updated");
    ASSERT_TRUE(m_tool.WaitExit(kExitLimitMs));
    EXPECT_EQ(StoredBytes(), Stored(firmware.Path()));
}

TEST_F(Settings, PathPastedInQuotesUpdatesTheUnitAndIsStoredWithoutThem) {
    Units({{5, "0105"}});
    const std::string image = FirmwareImage(8192, "01", "06");
    TempFile firmware(image, ".ace");
    Launch();
    // As Explorer's "Copy as path" puts it on the clipboard.
    m_window.SetText(kPathBox, "\"" + firmware.Path() + "\"");
    UpdateCompletes({5}, image);
    EXPECT_EQ(StoredBytes(), Stored(firmware.Path()));
}

TEST_F(Settings, PathTypedAndAbandonedWithExitIsNotStored) {
    Store(Stored("C:\\Firmware\\previous.ace"));
    Launch();
    m_window.SetText(kPathBox, "C:\\Firmware\\typed.ace");
    ASSERT_EQ(m_window.Text(kPathBox), "C:\\Firmware\\typed.ace");
    Exit();
    EXPECT_EQ(StoredBytes(), Stored("C:\\Firmware\\previous.ace"));
}

} // namespace
