#pragma once
// The one clock of the engine: milliseconds that only go forward, and a pause of the calling
// thread. Every time limit is measured with it.

#include <cstdint>

std::uint64_t MonotonicMs();
void PauseMs(std::uint32_t milliseconds);
