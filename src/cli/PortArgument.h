#pragma once
// How the console program's command line names a port on this system: "COM5" on Windows, a
// device path such as /dev/ttyUSB0 elsewhere. Each system's file (PortArgumentWin.cpp,
// PortArgumentPosix.cpp) holds the rule.

#include <optional>
#include <string>

// The port's name as discovery gives it, or nullopt when the word names no port this way.
std::optional<std::string> PortArgument(const std::string& word);
// Whether a unit's port is the one the command line named.
bool SamePort(const std::string& device, const std::string& named);

extern const char* const kPortKind;        // "COM port"
extern const char* const kPortPlaceholder; // "COMn" in the usage
extern const char* const kPortExample;     // "COM5"
extern const char* const kPortNameRule;    // why a word is not a port name
