#pragma once
// The Windows side of FirmwareFile, for Windows code that needs the file's handle.

#include "firmware/FirmwareFile.h"

#include <windows.h>

struct FirmwareFile::Native {
    HANDLE file = INVALID_HANDLE_VALUE;
};
