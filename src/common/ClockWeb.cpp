// The clock in the browser: the page's monotonic clock, and pauses that hand the browser its
// event loop (Asyncify), so that the serial port's promises go on while the engine waits.
#include "common/Clock.h"

#include <emscripten.h>

std::uint64_t MonotonicMs() {
    return static_cast<std::uint64_t>(emscripten_get_now());
}

void PauseMs(std::uint32_t milliseconds) {
    emscripten_sleep(milliseconds);
}
