// Files dropped on the window, the support log of an update and of a failure, and the
// title-bar menu's "Open log folder".
#include "common/Sha256Digest.h"
#include "res/resource.h"
#include "support/SystemNotices.h"
#include "support/UpdateBench.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const char kPath[] = "C:\\firmware\\amp.ace";

void Drop(HWND window, const std::vector<std::string>& paths) {
    ::SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
}

// The log's lines without their time stamps, which each must have.
std::vector<std::string> LogLines(const std::string& path) {
    const std::string text = ReadWholeFile(path);
    const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        const std::string line = text.substr(start, end - start);
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
        lines.push_back(line.substr(25));
        start = end + 2;
    }
    return lines;
}

// The lines that start with any of the prefixes, numbers of bytes per second and seconds cut
// off, as those vary from run to run.
std::vector<std::string> Records(const std::vector<std::string>& lines,
                                 const std::vector<std::string>& prefixes) {
    std::vector<std::string> records;
    for (const std::string& line : lines)
        for (const std::string& prefix : prefixes)
            if (line.rfind(prefix, 0) == 0) {
                records.push_back(
                    std::regex_replace(line, std::regex(R"( in [0-9.]+ s, \d+ B/s)"), " in T"));
                break;
            }
    return records;
}

class DropAndLog : public UpdateBench {
  protected:
    void SetUp() override {
        UpdateBench::SetUp();
        SelectEquipment();
        Dialog().m_supportLog = SupportLog(m_logFolder.Path());
    }
    std::string LogPath() const { return m_logFolder.Path() + "\\update.log"; }

    TempFolder m_logFolder{"log"};
};

TEST_F(DropAndLog, OneDroppedFileGoesIntoThePathBoxAndAnythingElseIsRefused) {
    m_harness.SetText(IDC_SOURCE_PATH, "C:\\earlier.ace");
    m_harness.SetText(IDC_STATUS, "");
    Drop(Window(), {kPath});
    EXPECT_EQ(m_harness.Text(IDC_SOURCE_PATH), kPath);
    EXPECT_EQ(m_harness.Text(IDC_STATUS), "");

    TempFolder folder("dropped");
    const std::string atTheLimit = "C:\\" + std::string(253, 'f') + ".ace";
    ASSERT_EQ(atTheLimit.size(), 260u);
    struct Case {
        std::vector<std::string> paths;
        std::string status;
    };
    const Case refused[] = {
        {{kPath, "C:\\firmware\\mixer.ace"}, "Drop one firmware file at a time"},
        {{folder.Path()}, "A folder cannot be transferred: drop a firmware file"},
        {{"C:\\" + std::string(293, 'f') + ".ace"},
         "The dropped file's path is longer than 260 characters"},
    };
    for (const Case& c : refused) {
        Drop(Window(), c.paths);
        EXPECT_EQ(m_harness.Text(IDC_SOURCE_PATH), kPath) << c.status;
        EXPECT_EQ(m_harness.Text(IDC_STATUS), c.status);
    }
    Drop(Window(), {atTheLimit});
    EXPECT_EQ(m_harness.Text(IDC_SOURCE_PATH), atTheLimit);
    EXPECT_TRUE(Boxes().Shown().empty());
}

TEST_F(DropAndLog, DropDuringATransferIsRefusedAndTheTransferGoesOn) {
    const std::string image = FirmwareImage(6144);
    TempFile file(image, ".ace");
    m_log.OnText([this](int id, const std::string& text) {
        if (id == IDC_STATUS && text == "2048 of 6144 bytes written (33%)")
            Drop(Window(), {kPath});
    });
    Update(file);
    ExpectCompleted();
    EXPECT_EQ(m_harness.Text(IDC_SOURCE_PATH), file.Path());
    bool refused = false;
    for (const ControlLog::StatusLine& line : m_log.StatusLines())
        refused |= line.text == "Files cannot be dropped while an update is running";
    EXPECT_TRUE(refused);
    EXPECT_TRUE(ReceivedInAll() == "pgm\r" + image);
}

TEST_F(DropAndLog, UpdateIsLoggedFromTheFileToTheCompletion) {
    const std::string image = FirmwareImage(5000);
    TempFile file(image, ".ace");
    Update(file);
    ExpectCompleted();
    Sha256Digest digest;
    digest.Add(image.data(), image.size());
    const std::vector<std::string> lines = LogLines(LogPath());
    EXPECT_EQ(Records(lines, {"file ", "transfer ", "message "}),
              (std::vector<std::string>{
                  "file chosen: " + file.Path() + ", 5000 bytes, SHA-256 " + digest.Finish(),
                  "file check: device ID 1, version 8, verdict accepted, Shift not held",
                  "transfer started: COM5",
                  "transfer ended: completed, 5000 of 5000 bytes in T",
                  "message shown: \"Your equipment has been successfully updated\"",
              }));
    for (const std::string& line : lines)
        std::printf("log: %s\n", line.c_str());
}

TEST_F(DropAndLog, FailureIsLoggedWithTheSystemsReason) {
    Configure("mode=stall\nstall_after=4096");
    ShortenStallLimit(300);
    TempFile file(FirmwareImage(64 * 1024), ".ace");
    Update(file);
    const std::vector<std::string> records =
        Records(LogLines(LogPath()), {"transfer ", "message "});
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], "transfer started: COM5");
    EXPECT_EQ(
        records[1].rfind("message shown: \"Error writing data to Master COM port\" (error ", 0), 0u)
        << records[1];
    EXPECT_TRUE(std::regex_match(records[2],
                                 std::regex("transfer ended: failed with \"Error writing data to "
                                            "Master COM port\", \\d+ of 65536 bytes in T")))
        << records[2];

    // A file that is not there: the system's own words for it.
    Reset();
    Dialog().m_supportLog.Write("-- missing file");
    m_harness.SetText(IDC_SOURCE_PATH, "C:\\no such folder\\amp.ace");
    m_harness.Click(IDC_UPDATE);
    const std::vector<std::string> lines = LogLines(LogPath());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("message shown: \"Error opening Source File\" (error 3: ", 0), 0u)
        << lines.back();
    for (const std::string& line : lines)
        std::printf("log: %s\n", line.c_str());
}

TEST_F(DropAndLog, FileThatCannotBePutBackAtItsStartIsReportedWithTheSeeksOwnReason) {
    // A serial port named as the file has a size (0) but no position to go back to. The log is
    // written between the failed seek and the report, and its folder exists: a reason taken
    // after that would be "already exists" (183).
    SimEquipment other;
    ASSERT_TRUE(other.Start({9})) << other.Error();
    const std::string port = "\\\\.\\COM9";
    HANDLE probe = ::CreateFileA(port.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE);
    ASSERT_FALSE(::SetFilePointerEx(probe, LARGE_INTEGER{}, nullptr, FILE_BEGIN));
    const DWORD reason = ::GetLastError();
    ::CloseHandle(probe);
    ASSERT_NE(reason, static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    Dialog().m_supportLog.Write("-- a port for a file");
    m_harness.SetText(IDC_SOURCE_PATH, port);
    m_harness.Click(IDC_UPDATE);
    const std::vector<std::string> lines = LogLines(LogPath());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "message shown: \"Unable to rewind source file\" (" + SystemReason(reason) + ")");
    EXPECT_EQ(m_harness.Text(IDC_STATUS), "Unable to rewind source file");
    EXPECT_EQ(ReceivedInAll(), "");
    EXPECT_EQ(other.Received(9), "");
}

TEST_F(DropAndLog, LogFolderOpensFromTheTitleBarMenuAndAnUnwritableOneIsNoHindrance) {
    char item[64] = {};
    ::GetMenuStringA(::GetSystemMenu(Window(), FALSE), IDM_OPEN_LOG_FOLDER, item, sizeof(item),
                     MF_BYCOMMAND);
    EXPECT_STREQ(item, "Open log folder");
    std::string opened;
    Dialog().m_openFolder = [&opened](HWND, const std::string& folder) {
        opened = folder;
        return true;
    };
    ::SendMessageA(Window(), WM_SYSCOMMAND, IDM_OPEN_LOG_FOLDER, 0);
    EXPECT_EQ(opened, m_logFolder.Path());

    // A log that cannot be written: the update runs as ever, the menu item says so.
    TempFile blocker("not a folder");
    Dialog().m_supportLog = SupportLog(blocker.Path() + "\\Update Utility");
    opened.clear();
    ::SendMessageA(Window(), WM_SYSCOMMAND, IDM_OPEN_LOG_FOLDER, 0);
    EXPECT_EQ(opened, "");
    EXPECT_EQ(m_harness.Text(IDC_STATUS), "The log folder cannot be opened");
    const std::string image = FirmwareImage(3000);
    TempFile file(image, ".ace");
    Update(file);
    ExpectCompleted();
    EXPECT_TRUE(ReceivedInAll() == "pgm\r" + image);
}

} // namespace
