// Firmware paths with letters of any script, through the real program: typed, browsed,
// remembered, and the 260-character limit of the path box.
#include "RealProgram.h"

namespace {

constexpr int kPathBox = 1005;
constexpr int kBrowse = 1006;

// Characters as the user sees them (UTF-16 units) of a UTF-8 text.
int Characters(const std::string& text) {
    return ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0);
}

std::string Repeat(const std::string& text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i)
        repeated += text;
    return repeated;
}

class PathsInAnyScript : public RealProgram {
  protected:
    void SetUp() override {
        RealProgram::SetUp();
        ASSERT_EQ(::GetACP(), 65001u) << "the test program shares the tool's manifest";
        Units({{5, "0105"}});
    }

    // Types the path over the box's text, updates the unit, and checks what it received and what
    // the program stored.
    void UpdateWithTypedPath(const std::string& path, const std::string& image) {
        Launch();
        m_window.SetText(kPathBox, "");
        m_window.Type(kPathBox, path);
        ASSERT_EQ(m_window.Text(kPathBox), path);
        UpdateFromTheBox(path, image);
    }

    // Updates the unit with the file the path box names, and checks what the unit received and
    // what the program stored at its end.
    void UpdateFromTheBox(const std::string& path, const std::string& image) {
        UpdateCompletes({5}, image);
        EXPECT_EQ(StoredBytes(), Stored(path));
    }
};

TEST_F(PathsInAnyScript, TypedPathsInLatinCyrillicAndCjkFoldersUpdateAndComeBackAtTheNextStart) {
    const std::string image = FirmwareImage(20 * 1024 + 3, "01", "06");
    for (const char* folderName : {"Ünïcödé-Brüel-Kjær-čšž", "Прошивка-ж", "固件-测试"}) {
        SCOPED_TRACE(folderName);
        TempFolder folder(folderName);
        ASSERT_FALSE(folder.Path().empty());
        const std::string path = folder.Add("new.ace", image);
        UpdateWithTypedPath(path, image);
        Launch();
        EXPECT_EQ(m_window.Text(kPathBox), path);
        Exit();
        EXPECT_EQ(StoredBytes(), Stored(path));
    }
}

TEST_F(PathsInAnyScript, PathChosenWithBrowseIsShownSentAndStored) {
    const std::string image = FirmwareImage(8192, "01", "06");
    TempFolder folder("Ünïcödé-ж-测试");
    const std::string path = folder.Add("new.ace", image);
    Launch();
    m_window.Press(kBrowse);
    HWND fileDialog = scripted::WaitFileDialog(m_tool.Id(), kShowLimitMs);
    ASSERT_NE(fileDialog, nullptr);
    ASSERT_TRUE(scripted::ChooseFile(fileDialog, path));
    EXPECT_TRUE(scripted::WaitUntil(5000, [&] { return m_window.Text(kPathBox) == path; }))
        << m_window.Text(kPathBox);
    UpdateFromTheBox(path, image);
}

// Folders of Cyrillic and CJK letters and a file name padded so that the whole path has exactly
// `length` characters. Each level stays within the 255 bytes that Linux allows a file name.
struct LongPath {
    explicit LongPath(int length)
        : folder(Repeat("Прошивка-", 6) + "\\" + Repeat("固件更新测试", 10) + "\\" +
                 Repeat("микшер-", 8)) {
        path = folder.Path() + "\\";
        while (Characters(path) < length - 4)
            path += Characters(path) % 2 ? "ж" : "测";
        path += ".ace";
    }
    TempFolder folder;
    std::string path;
};

TEST_F(PathsInAnyScript, PathOf260CharactersIsTypedInFullAndSent) {
    const std::string image = FirmwareImage(4096, "01", "06");
    LongPath name(260);
    ASSERT_EQ(Characters(name.path), 260);
    ASSERT_GT(name.path.size(), 500u); // bytes: most characters take two or three
    const std::string path =
        name.folder.Add(name.path.substr(name.folder.Path().size() + 1), image);
    ASSERT_EQ(path, name.path);

    Launch();
    // The box takes all 260 characters and no more.
    m_window.Type(kPathBox, path + "x");
    ASSERT_EQ(m_window.Text(kPathBox), path);
    UpdateFromTheBox(path, image);
}

// The over-length message of the path box: shown, answered, and its caption and text returned.
std::string AnswerOverLengthMessage(const scripted::ToolProcess& tool, DWORD limitMs) {
    const scripted::MessageBoxSeen box = scripted::WaitMessageBox(tool.Id(), limitMs);
    if (!box.window)
        return "no message box";
    scripted::Answer(box.window, IDOK);
    return box.caption + ": " + box.text;
}

TEST_F(PathsInAnyScript, PathOf261CharactersIsRefusedAndKeptWhole) {
    // Only a stored path can be that long: typing stops at 260.
    LongPath name(261);
    ASSERT_EQ(Characters(name.path), 261);
    Store(Stored(name.path));
    const std::string refusal = "OrvaneUpdateUtility: Please enter no more than 260 characters.";
    // The list is filled before the window shows, with pulls of the box's text.
    ASSERT_TRUE(m_tool.Start(ProgramPath()));
    bool refused = false;
    ASSERT_TRUE(scripted::WaitUntil(kShowLimitMs, [&] {
        const scripted::MessageBoxSeen box = scripted::FindMessageBox(m_tool.Id());
        if (box.window) {
            EXPECT_EQ(box.caption + ": " + box.text, refusal);
            scripted::Answer(box.window, IDOK);
            refused = true;
        }
        return m_window.Attach(m_tool.Id(), 0);
    }));
    EXPECT_TRUE(refused);
    EXPECT_EQ(m_window.Text(kPathBox), name.path);

    m_window.Press(1002);
    EXPECT_EQ(AnswerOverLengthMessage(m_tool, kBoxLimitMs), refusal);
    // The update carries on with the path, which names no file.
    scripted::MessageBoxSeen box;
    ASSERT_TRUE(scripted::WaitUntil(kBoxLimitMs, [&] {
        box = scripted::FindMessageBox(m_tool.Id());
        return box.window && box.caption == "Error";
    }));
    EXPECT_EQ(box.text, "Error opening Source File");
    scripted::Answer(box.window, IDOK);
    Exit();
    EXPECT_EQ(StoredBytes(), Stored(name.path));
    EXPECT_EQ(m_units.Received(5).find("pgm\r"), std::string::npos);
}

TEST_F(PathsInAnyScript, ProgramInAFolderOfManyBytesFindsItsBridgeLibraryAndKeepsItsName) {
    // More than 260 bytes to the program, fewer than 260 characters.
    TempFolder folder(Repeat("固件更新测试文件夹", 5) + "\\" + Repeat("固件更新测试文件夹", 5));
    const std::string beside = ProgramPath().substr(0, ProgramPath().find_last_of('\\') + 1);
    folder.Add("CP210xManufacturing.dll", ReadWholeFile(beside + "CP210xManufacturing.dll"));
    const std::string exe = folder.Add("OrvaneUpdateUtility.exe", ReadWholeFile(ProgramPath()));
    ASSERT_GT(exe.size(), 260u);
    ASSERT_LT(Characters(exe), 260);

    // Found under the program's own name: its file name without the extension.
    Store(Stored("C:\\Прошивка\\new.ace"));
    Launch(exe);
    EXPECT_EQ(m_window.Text(kPathBox), "C:\\Прошивка\\new.ace");
    EXPECT_EQ(m_window.Entries(), std::vector<std::string>{"Unit 0105, firmware version 005"});
    Exit();
}

} // namespace
