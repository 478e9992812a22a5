#pragma once
// The unit's two commands on an open serial line. Each is four bytes: three lower-case letters
// and a carriage return, with no terminator, length or checksum.
//
//   "ver\r"  the unit answers two bytes: its device ID (model) and its installed firmware
//            version, both signed bytes, with no framing.
//   "pgm\r"  the firmware image follows at once on the same line; the unit answers nothing.

#include "device/SerialLine.h"

#include <cstdint>

enum CommandKind : uint32_t {
    Program = 0, // "pgm\r"
    Version = 1, // "ver\r"
};

constexpr std::uint32_t kCommandLength = 4;
constexpr std::uint8_t kProgramCommand[kCommandLength] = {'p', 'g', 'm', '\r'};
constexpr std::uint8_t kVersionCommand[kCommandLength] = {'v', 'e', 'r', '\r'};
constexpr std::uint32_t kVersionReplyLength = 2;

// Time limits of the version query: the write, and the silence allowed while reading.
constexpr std::uint32_t kVersionWriteLimitMs = 5000;
constexpr std::uint32_t kVersionReadLimitMs = 500;

// Sends one command. Version writes "ver\r" and reads replyLength bytes into reply; only the
// low 8 bits of replyLength count (kept on purpose: the reply length has always travelled as a
// byte). Program writes "pgm\r" bounded by the stall limit, running the wait hook while the
// unit holds the line. Any other kind sends nothing and succeeds.
LineResult SendCommand(SerialLine& line, CommandKind kind, std::uint8_t* reply,
                       std::uint32_t replyLength, std::uint32_t stallLimitMs = kWriteStallLimitMs,
                       const WaitHook& keepWaiting = {});

struct VersionReply {
    std::uint8_t deviceId = 0xFF;
    std::uint8_t version = 0xFF;
};

// The version query: "ver\r", then the two reply bytes.
LineResult QueryVersion(SerialLine& line, VersionReply& reply);
