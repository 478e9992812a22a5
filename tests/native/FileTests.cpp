// The firmware file on Linux: what is not a regular file is refused at once, with a reason of its
// own rather than whatever an earlier call left in errno.
#include "firmware/FirmwareFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(FirmwareFileOpen, WhatIsNotAFileIsRefusedAtOnceWithItsOwnReason) {
    char folder[] = "/tmp/orvane-file-test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string pipe = std::string(folder) + "/pipe.ace";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string path;
        SystemError reason;
    };
    const Case cases[] = {
        {"a folder", folder, EISDIR},
        {"a device", "/dev/null", EINVAL},
        {"a named pipe no one writes to", pipe, EINVAL},
        {"nothing", std::string(folder) + "/none.ace", ENOENT},
    };
    for (const Case& c : cases) {
        errno = EACCES; // left by an earlier call
        FirmwareFile file;
        const auto start = std::chrono::steady_clock::now();
        const FirmwareResult opened = file.Open(c.path.c_str());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.name;
        EXPECT_EQ(opened.failed, FirmwareError::Open) << c.name;
        EXPECT_EQ(opened.systemError, c.reason) << c.name;
        EXPECT_FALSE(file.IsOpen()) << c.name;
    }
    ::unlink(pipe.c_str());
    ::rmdir(folder);
}

} // namespace
