#include "UnitBench.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>
#include <thread>

NativeSimEquipment UnitBench::s_unit;

void UnitBench::SetUpTestSuite() {
    ASSERT_TRUE(s_unit.Start({kPort})) << s_unit.Error();
}

void UnitBench::TearDownTestSuite() {
    s_unit.Stop();
}

void UnitBench::SetUp() {
    Configure("mode=normal");
    s_unit.ClearReceived(kPort);
}

namespace {

int CountLines(const std::string& text, const std::string& prefix) {
    int count = 0;
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        if (text.compare(at, prefix.size(), prefix) == 0)
            ++count;
        if (text.find('\n', at) == std::string::npos)
            break;
    }
    return count;
}

} // namespace

std::string UnitBench::WriteFile(const std::string& bytes) {
    std::string path = "/tmp/orvane-native-test.XXXXXX";
    const int fd = ::mkstemp(path.data());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    m_files.push_back(path);
    return path;
}

void UnitBench::TearDown() {
    for (const std::string& path : m_files)
        ::unlink(path.c_str());
    m_line.Close();
    // Every session's close is recorded before the next test clears the records, so that no
    // late record of this test lands in the next one's.
    const auto allClosed = [] {
        const std::string events = s_unit.Events(kPort);
        return CountLines(events, "close") + CountLines(events, "hangup") >=
               CountLines(events, "open ");
    };
    for (int wait = 0; wait < 500 && !allClosed(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
