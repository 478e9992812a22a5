#pragma once
// The equipment's serial commands and the reply buffer of the version query.

#include <windows.h>

#include <cstdint>

enum CommandKind : uint32_t {
    Program = 0, // "pgm\r": the firmware image follows at once; no reply
    Version = 1, // "ver\r": the equipment answers its device ID and firmware version
};

constexpr DWORD kCommandLength = 4;
constexpr DWORD kVersionReplyLength = 2;

// One shared definition: both command texts (no terminating zero is sent) and the reply
// buffer, which lives as long as the program and starts as FF FF.
struct DeviceCommandSet {
    BYTE program[kCommandLength];
    BYTE version[kCommandLength];
    BYTE versionReply[kVersionReplyLength];
};
extern DeviceCommandSet g_deviceCommands;

// Time limits of the version query, in milliseconds.
constexpr DWORD kVersionWriteLimitMs = 5000;
constexpr DWORD kVersionReadLimitMs = 500;
