// The bench record's rules: the CSV field, the files' SHA-256, and appends by several programs
// to one file at once.
#include "cli/BenchRecord.h"
#include "common/Sha256Digest.h"
#include "support/RecordCases.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Record, CsvFields) {
    for (const CsvFieldCase& field : kCsvFieldCases)
        EXPECT_EQ(CsvField(field.text), field.written) << field.text;
}

TEST(Record, Sha256) {
    for (const Sha256Case& sample : kSha256Cases) {
        std::string text;
        for (size_t i = 0; i < sample.repeat; ++i)
            text += sample.text;
        Sha256Digest whole;
        whole.Add(text.data(), text.size());
        EXPECT_EQ(whole.Finish(), sample.digest) << sample.text << " x" << sample.repeat;
        // The same bytes in pieces of 1, 7 and 61 bytes.
        Sha256Digest pieces;
        for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 7 % 61 + 1)
            pieces.Add(text.data() + at, std::min(step, text.size() - at));
        EXPECT_EQ(pieces.Finish(), sample.digest) << sample.text << " x" << sample.repeat;
    }
}

// Programs appending at the same moment to a file that none of them finds: one makes it with
// the header, the others append, and no row is torn. Many short rounds, as the race for the
// header lies in the first appends (a check of the size before writing fails within a few).
TEST(Record, SeveralProgramsAppendToOneNewFile) {
    constexpr int kWriters = 8, kRows = 5, kRounds = 40;
    char folder[] = "/tmp/orvane-record.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    for (int round = 0; round < kRounds; ++round) {
        const std::string path = std::string(folder) + "/bench-" + std::to_string(round) + ".csv";
        const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        std::vector<pid_t> children;
        for (int writer = 0; writer < kWriters; ++writer) {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                std::this_thread::sleep_until(start);
                bool ok = true;
                for (int row = 0; row < kRows; ++row) {
                    std::string error;
                    ok = AppendToRecordFile(path, RecordHeader(), RecordTestRow(writer, row),
                                            error) &&
                         ok;
                }
                ::_exit(ok ? 0 : 1);
            }
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        EXPECT_EQ(CheckRecordText(ReadAll(path), RecordHeader(), kWriters, kRows), "")
            << "round " << round;
    }
    std::system(("rm -rf " + std::string(folder)).c_str());
}

TEST(Record, UnwritableFileSaysWhy) {
    std::string error;
    EXPECT_FALSE(AppendToRecordFile("/nonexistent-folder/bench.csv", RecordHeader(),
                                    RecordTestRow(0, 0), error));
    EXPECT_NE(error.find("/nonexistent-folder/bench.csv"), std::string::npos) << error;
}

} // namespace
