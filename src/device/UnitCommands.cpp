#include "device/UnitCommands.h"

LineResult SendCommand(SerialLine& line, CommandKind kind, std::uint8_t* reply,
                       std::uint32_t replyLength, std::uint32_t stallLimitMs,
                       const WaitHook& keepWaiting) {
    switch (kind) {
    case Program:
        return line.WriteWithTimeout(kProgramCommand, kCommandLength, stallLimitMs, keepWaiting);
    case Version:
        if (LineResult sent =
                line.WriteWithTimeout(kVersionCommand, kCommandLength, kVersionWriteLimitMs);
            !sent)
            return sent;
        return line.ReadWithTimeout(reply, replyLength & 0xFF, kVersionReadLimitMs);
    default:
        return LineResult::Success();
    }
}

LineResult QueryVersion(SerialLine& line, VersionReply& reply) {
    std::uint8_t bytes[kVersionReplyLength];
    const LineResult result = SendCommand(line, Version, bytes, kVersionReplyLength);
    if (result) {
        reply.deviceId = bytes[0];
        reply.version = bytes[1];
    }
    return result;
}
