#pragma once
// Helpers of the COM port lookup in the registry.

#include <windows.h>

// Size of the buffer that every registry value of a lookup is read into; the queries are
// given one byte less, so that a NUL always fits after the data.
constexpr DWORD kValueBufferSize = 101;

// Port number from a port name such as "COM5": its first three characters are replaced by
// '0' and the leading digits read. -1 when the name has fewer than three characters. The
// data is terminated inside the buffer first.
int PortNumberFromName(char* value, DWORD bytesRead);
