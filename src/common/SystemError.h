#pragma once
// The system's error codes as the engine carries them: a Win32 error code on Windows, an errno
// value elsewhere. Each system words its own codes; the engine never does.

#include <cstdint>
#include <string>

using SystemError = std::uint32_t;
constexpr SystemError kNoSystemError = 0;

// The code the system left for the calling thread (GetLastError, errno).
SystemError LastSystemError();

// The system's own text for the code, without its line end; "" when the system has none.
std::string SystemText(SystemError error);

// "The device is not ready (system error 21)": the text without its full stop, and the code.
std::string SystemErrorText(SystemError error);

// Each system's code for the engine's own failures, so that every failure carries one.
extern const SystemError kErrorTimeout;    // nothing moved for the time limit
extern const SystemError kErrorCancelled;  // the caller asked to stop
extern const SystemError kErrorNotOpen;    // no port or file is open
extern const SystemError kErrorShortWrite; // the driver took only part of a write
extern const SystemError kErrorEndOfFile;  // the file ended before the header did
extern const SystemError kErrorTooLarge;   // a file of 4 GiB or more
extern const SystemError kErrorNoSuchPort; // the name names no port
extern const SystemError kErrorRemoved;    // the device went away
extern const SystemError kErrorNoSuchFile; // no file of that name
extern const SystemError kErrorNoSuchPath; // a folder on the way is missing or is no folder

// Whether the code says that the user may not open the object for want of permission. Never on
// Windows, whose "access denied" for a port means that another program holds it.
bool IsPermissionDenied(SystemError error);
