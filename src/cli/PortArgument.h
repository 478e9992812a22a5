#pragma once
// How the console program's command line names a port on this system ("COM5" on Windows, a
// device path such as /dev/ttyUSB0 elsewhere), and the words that differ between the systems.
// Each system's file (PortArgumentWin.cpp, PortArgumentPosix.cpp) holds them.

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

// Where bridges come from as list names it: the bridge library ("library") or the system's own
// list ("device list" on Windows, "sysfs" on Linux).
extern const char* const kSystemListSource;
extern const char* const kBridgeSourcesHelp; // the sources, for the help
extern const char* const kNoUnitCauses;      // what exit code 2 means here, for the help
