#pragma once
// The COM port of a bridge, found from its VID, PID and serial number in the registry keys
// that the USB and bridge drivers write. Two layouts: the NT one (Enum\USB\Vid_..&Pid_..) and
// the legacy one of the Windows 9x family (Enum\SLABCR\guid\NNNN). Neither changes anything.

#include <windows.h>

// Size of the buffer that every registry value of a lookup is read into; the queries are
// given one byte less, so that a NUL always fits after the data.
constexpr DWORD kValueBufferSize = 101;

// The port number under Enum\USB: the composite form (..&Mi_00\<serial>_00) first, the plain
// form only when that key does not exist. Blanks in the serial count as '_'. -1: none found.
int LookUpPortName(WORD vid, WORD pid, const char* serial);
// The port number from the legacy bridge driver's keys 0000, 0001, ... whose
// "CRLowerDeviceID" names this bridge. The serial is compared upper-cased. -1: none found.
int LookUpPortNameLegacy(WORD vid, WORD pid, const char* serial);

// Port number from a port name such as "COM5": its first three characters are replaced by
// '0' and the leading digits read. -1 when the name has fewer than three characters. The
// data is terminated inside the buffer first.
int PortNumberFromName(char* value, DWORD bytesRead);
