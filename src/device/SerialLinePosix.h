#pragma once
// The POSIX line's port and the settings it found, for code that needs the descriptor (tests
// that read the line's settings back).

#include "device/SerialLine.h"

#include <termios.h>

struct SerialLine::Native {
    int fd = -1;
    termios saved{};
    bool hasSaved = false;
    // A write or a drain that failed or was cancelled leaves bytes in the output queue that the
    // unit will never take; they are thrown away at close rather than sent.
    bool discardOutput = false;
};
