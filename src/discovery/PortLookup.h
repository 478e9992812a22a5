#pragma once
// The COM port of a bridge, found from its VID, PID and serial number in the registry keys
// that the USB and bridge drivers write. Two layouts: the NT one (Enum\USB\Vid_..&Pid_..) and
// the legacy one of the Windows 9x family (Enum\SLABCR\guid\NNNN). Neither changes anything.

#include "discovery/RegistryTexts.h"

#include <windows.h>

// The port number under Enum\USB: the composite form (..&Mi_00\<serial>_00) first, the plain
// form only when that key does not exist. Blanks in the serial count as '_'. -1: none found.
int LookUpPortName(WORD vid, WORD pid, const char* serial);
// The port number from the legacy bridge driver's keys 0000, 0001, ... whose
// "CRLowerDeviceID" names this bridge. The serial is compared upper-cased. -1: none found.
int LookUpPortNameLegacy(WORD vid, WORD pid, const char* serial);
