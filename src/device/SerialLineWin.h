#pragma once
// The Windows side of SerialLine, for Windows code that needs the port's handle or the settings
// found at open (the window keeps both in its own members).

#include "device/SerialLine.h"

#include <windows.h>

struct SerialLine::Native {
    HANDLE port = INVALID_HANDLE_VALUE;
    DCB saved{}; // DCBlength 0 when nothing is saved
    COMMTIMEOUTS savedTimeouts{};
    bool hasSavedTimeouts = false;
};
