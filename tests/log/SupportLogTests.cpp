// The support log and the file hash, without a window: what a line looks like, rotation at
// 1 MiB, a folder that cannot be written, and SHA-256 digests of known inputs.
#include "common/Sha256Digest.h"
#include "log/Sha256.h"
#include "log/SupportLog.h"
#include "support/TempFile.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "a line without its line break";
    return lines;
}

TEST(SupportLog, LinesStartWithTheTimeAndGoIntoTheFoldersItMakes) {
    TempFolder base("base");
    const SupportLog log(base.Path() + "\\Orvane\\Update Utility");
    EXPECT_TRUE(log.Write("first"));
    EXPECT_TRUE(log.Write("second"));
    const std::vector<std::string> lines = Lines(ReadWholeFile(log.Path()));
    ASSERT_EQ(lines.size(), 2u);
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (first|second))");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    EXPECT_EQ(lines[1].substr(25), "second");
    ::DeleteFileA(log.Path().c_str());
    ::RemoveDirectoryA(log.Folder().c_str());
    ::RemoveDirectoryA((base.Path() + "\\Orvane").c_str());
}

TEST(SupportLog, FolderComesFromLocalAppData) {
    char saved[1024] = {};
    const DWORD had = ::GetEnvironmentVariableA("LOCALAPPDATA", saved, sizeof(saved));
    ::SetEnvironmentVariableA("LOCALAPPDATA", "C:\\Users\\someone\\AppData\\Local");
    EXPECT_EQ(SupportLog().Path(),
              "C:\\Users\\someone\\AppData\\Local\\Orvane\\Update Utility\\update.log");
    ::SetEnvironmentVariableA("LOCALAPPDATA", nullptr);
    EXPECT_FALSE(SupportLog().Write("nowhere to go"));
    ::SetEnvironmentVariableA("LOCALAPPDATA", had ? saved : nullptr);
}

TEST(SupportLog, RotatesAtOneMebibyteKeepingOneOlderFile) {
    TempFolder folder("rotation");
    const SupportLog log(folder.Path());
    const std::string older = folder.Path() + "\\update.log.1";
    // A line that would take the file past 1 MiB goes into a new file. Stamped, "fits" takes
    // 31 bytes and "rotates" 34.
    const std::string full(SupportLog::kRotateBytes - 64, 'x');
    folder.Add(SupportLog::kFileName, full);
    EXPECT_TRUE(log.Write("fits"));
    EXPECT_EQ(ReadWholeFile(older).size(), 0u);
    const std::string beforeRotation = ReadWholeFile(log.Path());
    EXPECT_EQ(beforeRotation.size(), SupportLog::kRotateBytes - 64 + 31);
    EXPECT_TRUE(log.Write("rotates"));
    EXPECT_TRUE(ReadWholeFile(older) == beforeRotation);
    EXPECT_EQ(ReadWholeFile(log.Path()).size(), 34u);

    // The next rotation replaces the older file: only one is kept.
    folder.Add(SupportLog::kFileName, full);
    EXPECT_TRUE(log.Write("fits"));
    EXPECT_TRUE(log.Write("rotates again"));
    EXPECT_TRUE(ReadWholeFile(older).substr(0, full.size()) == full);
    EXPECT_NE(ReadWholeFile(log.Path()).find("rotates again"), std::string::npos);
    ::DeleteFileA(older.c_str());
}

TEST(SupportLog, EveryRecordIsOneLineWhateverItsText) {
    struct Case {
        const char* name;
        std::string text;
        std::string written;
    };
    const Case cases[] = {
        {"a product text that would forge a record of its own",
         "unit 0: \"Orvane Mixer\r\n2026-12-07T10:26:14.123Z unit 1: forged\", serial \"1\"",
         "unit 0: \"Orvane Mixer\\r\\n2026-12-07T10:26:14.123Z unit 1: forged\", serial \"1\""},
        {"a tab, an escape, a delete and a NUL",
         std::string("t\tE\x1B"
                     "D\x7F"
                     "N\0!",
                     9),
         "t\\tE\\x1BD\\x7FN\\x00!"},
        {"paths and letters beyond ASCII as they are", "C:\\Orvane\\Caf\xC3\xA9.ace",
         "C:\\Orvane\\Caf\xC3\xA9.ace"},
    };
    TempFolder folder("one line");
    const SupportLog log(folder.Path());
    for (const Case& c : cases)
        EXPECT_TRUE(log.Write(c.text)) << c.name;
    const std::vector<std::string> lines = Lines(ReadWholeFile(log.Path()));
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find_first_of("\r\n"), std::string::npos) << cases[i].name;
        EXPECT_EQ(lines[i].substr(25), cases[i].written) << cases[i].name;
    }
    ::DeleteFileA(log.Path().c_str());
}

// Writes one line through each log from a thread of its own, all let go at the same moment, as
// copies of the tool running at once would.
void WriteAtOnce(const std::vector<SupportLog>& logs) {
    struct Writer {
        const SupportLog* log;
        std::string text;
        HANDLE go;
        static DWORD WINAPI Run(void* self) {
            const auto* writer = static_cast<Writer*>(self);
            ::WaitForSingleObject(writer->go, INFINITE);
            return writer->log->Write(writer->text) ? 0 : 1;
        }
    };
    HANDLE go = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<Writer> writers;
    for (const SupportLog& log : logs)
        writers.push_back({&log, "writer " + std::to_string(writers.size()), go});
    std::vector<HANDLE> threads;
    for (Writer& writer : writers)
        threads.push_back(::CreateThread(nullptr, 0, Writer::Run, &writer, 0, nullptr));
    ::Sleep(5);
    ::SetEvent(go);
    ::WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE thread : threads)
        ::CloseHandle(thread);
    ::CloseHandle(go);
}

TEST(SupportLog, WritersRotatingAtOnceKeepTheFullLogAsTheOlderFile) {
    TempFolder folder("writers");
    const std::vector<SupportLog> logs(8, SupportLog(folder.Path()));
    const std::string older = folder.Path() + "\\update.log.1";
    // Any line takes this log past 1 MiB, so every writer may find it full.
    const std::string full(SupportLog::kRotateBytes - 10, 'x');
    for (int round = 0; round < 60; ++round) {
        folder.Add(SupportLog::kFileName, full);
        WriteAtOnce(logs);
        // One rotation: the full log is the older file, never a newer one of a few lines.
        ASSERT_EQ(ReadWholeFile(older).size(), full.size()) << "round " << round;
        const std::string log = ReadWholeFile(logs[0].Path());
        ASSERT_LT(log.size(), 1000u) << "round " << round;
        EXPECT_EQ(Lines(log).size(), logs.size()) << "round " << round;
    }
    ::DeleteFileA(older.c_str());
}

TEST(SupportLog, ReaderHoldingTheLogOpenDoesNotStopItsRotation) {
    TempFolder folder("reader");
    const SupportLog log(folder.Path());
    const std::string older = folder.Path() + "\\update.log.1";
    const std::string full(SupportLog::kRotateBytes - 10, 'x');
    folder.Add(SupportLog::kFileName, full);
    // A viewer's usual sharing: others may read and write, but not rename or delete.
    HANDLE reader =
        ::CreateFileA(log.Path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(log.Write("rotates"));
    EXPECT_TRUE(log.Write("follows"));
    EXPECT_EQ(ReadWholeFile(older).size(), full.size());
    const std::string rotated = ReadWholeFile(log.Path());
    ASSERT_LT(rotated.size(), 1000u);
    const std::vector<std::string> lines = Lines(rotated);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(25), "rotates");
    ::CloseHandle(reader);
    ::DeleteFileA(older.c_str());
}

TEST(SupportLog, FolderThatCannotBeMadeIsSkipped) {
    // A file where the folder should be.
    TempFile blocker("not a folder");
    const SupportLog log(blocker.Path() + "\\Update Utility");
    EXPECT_FALSE(log.Write("lost"));
    EXPECT_FALSE(log.CreateFolder());
    EXPECT_EQ(ReadWholeFile(blocker.Path()), "not a folder");
}

TEST(SupportLog, SystemReasonNamesTheCodeAndItsText) {
    EXPECT_EQ(SystemReason(ERROR_SUCCESS), "");
    const std::string reason = SystemReason(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reason.rfind("error 2: ", 0), 0u) << reason;
    EXPECT_GT(reason.size(), 9u);
    EXPECT_NE(reason.back(), '\n');
}

TEST(Sha256, DigestsOfKnownInputs) {
    Sha256Digest empty;
    EXPECT_EQ(empty.Finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    Sha256Digest abc;
    abc.Add("abc", 3);
    EXPECT_EQ(abc.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, WholeOpenFileIsHashedAndTheFileRewound) {
    // One million 'a', read in several pieces.
    TempFile file(std::string(1000000, 'a'));
    HANDLE handle = ::CreateFileA(file.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    char first[4] = {};
    DWORD read = 0;
    ASSERT_TRUE(::ReadFile(handle, first, sizeof(first), &read, nullptr));
    std::string digest;
    DWORD seekError = ERROR_GEN_FAILURE;
    EXPECT_TRUE(Sha256OfOpenFile(handle, digest, seekError));
    EXPECT_EQ(seekError, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(digest, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    LARGE_INTEGER position{};
    ASSERT_TRUE(::SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, 0);
    ::CloseHandle(handle);
}

} // namespace
