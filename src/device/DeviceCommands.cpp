#include "device/DeviceCommands.h"

#include "device/SerialPort.h"
#include "update/UpdateUtilityDlg.h"

DeviceCommandSet g_deviceCommands = {
    {'p', 'g', 'm', '\r'},
    {'v', 'e', 'r', '\r'},
    {0xFF, 0xFF},
};

BOOL CUpdateUtilityDlg::SendCommand(HANDLE port, CommandKind kind, BYTE* reply, DWORD replyLength) {
    DWORD written = 0;
    switch (kind) {
    case Program:
        // Bounded by the stall limit, so equipment that never takes the command fails it.
        return WriteWithTimeout(port, g_deviceCommands.program, kCommandLength, &written,
                                g_writeStallLimitMs);
    case Version:
        if (!WriteWithTimeout(port, g_deviceCommands.version, kCommandLength, &written,
                              kVersionWriteLimitMs))
            return FALSE;
        return ReadWithTimeout(port, reply, replyLength & 0xFF, kVersionReadLimitMs);
    default:
        return TRUE;
    }
}
