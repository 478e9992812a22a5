// The bench record's file on Windows: appends by several writers to one new file at once. (The
// CSV field and the SHA-256 are the same code on both systems; the native suite checks them.)
#include "cli/BenchRecord.h"
#include "support/RecordCases.h"
#include "support/TempFile.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace {

struct Writer {
    std::string path;
    int index;
    HANDLE start;
    bool ok = true;
    std::string error;
};

DWORD WINAPI AppendRows(void* parameter) {
    Writer& writer = *static_cast<Writer*>(parameter);
    ::WaitForSingleObject(writer.start, INFINITE);
    for (int row = 0; row < 5; ++row) {
        writer.ok = AppendToRecordFile(writer.path, RecordHeader(),
                                       RecordTestRow(writer.index, row), writer.error) &&
                    writer.ok;
    }
    return 0;
}

// Writers let go at one moment on a file none of them finds: one makes it with the header, the
// others append, and no row is torn.
TEST(Record, SeveralWritersAppendToOneNewFile) {
    constexpr int kWriters = 8, kRounds = 10;
    TempFolder folder("records");
    for (int round = 0; round < kRounds; ++round) {
        const std::string path = folder.Path() + "\\bench-" + std::to_string(round) + ".csv";
        HANDLE start = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::vector<Writer> writers;
        for (int index = 0; index < kWriters; ++index)
            writers.push_back({path, index, start, true, ""});
        std::vector<HANDLE> threads;
        for (Writer& writer : writers)
            threads.push_back(::CreateThread(nullptr, 0, AppendRows, &writer, 0, nullptr));
        ::SetEvent(start);
        ::WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE,
                                 INFINITE);
        for (HANDLE thread : threads)
            ::CloseHandle(thread);
        ::CloseHandle(start);
        for (const Writer& writer : writers)
            EXPECT_TRUE(writer.ok) << writer.index << ": " << writer.error;
        EXPECT_EQ(CheckRecordText(ReadWholeFile(path), RecordHeader(), kWriters, 5), "")
            << "round " << round << "\n"
            << ReadWholeFile(path);
        ::DeleteFileA(path.c_str());
    }
}

} // namespace
