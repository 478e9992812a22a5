#include "common/Clock.h"

#include <cerrno>
#include <ctime>

std::uint64_t MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void PauseMs(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000};
    // A signal (Ctrl+C) cuts the pause short; the rest is slept, as a cancel is seen elsewhere.
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
