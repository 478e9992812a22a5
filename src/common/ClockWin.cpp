#include "common/Clock.h"

#include <windows.h>

std::uint64_t MonotonicMs() {
    return ::GetTickCount64();
}

void PauseMs(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}
