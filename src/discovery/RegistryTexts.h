#pragma once
// What Windows' registry, device list and bridge library hand the finder as text, read without
// any call into the system, so that the rules can be built and fuzzed on every system: a port's
// name ("COM5"), a USB device's IDs and serial from its hardware and instance IDs, a bridge's
// product text and serial.

#include <cstddef>
#include <cstdint>
#include <string>

// Size of the buffer that every registry value of a lookup is read into; the queries are
// given one byte less, so that a NUL always fits after the data.
constexpr std::uint32_t kValueBufferSize = 101;

// Port number from a port name such as "COM5": its first three characters are replaced by
// '0' and the leading digits read. -1 when the name has fewer than three characters. The
// data is terminated inside the buffer (of kValueBufferSize bytes) first.
int PortNumberFromName(char* value, std::uint32_t bytesRead);

// Whether the text starts with the prefix, ASCII letter case aside, as the IDs are compared.
bool StartsWithNoCase(const std::string& text, const char* prefix);

// VID and PID from a USB hardware or instance ID such as "USB\VID_10C4&PID_EA60&REV_0100".
bool UsbIdsFromDeviceId(const std::string& id, std::uint16_t& vid, std::uint16_t& pid);
// The serial number of a USB device from its instance ID ("USB\VID_..&PID_..\<serial>"); "" when
// the last part is missing or is one that Windows made up for a device without a serial.
std::string SerialFromInstanceId(const std::string& instanceId);
// The number of a port name "COM<n>" (n from 1 to 9999); -1 for any other text.
int PortNumberFromComName(const std::string& name);
// "COM5" for 5.
std::string ComPortName(int port);
// A text the bridge library left in a buffer of size bytes (at least one), terminated inside
// it however long the library says the text is, up to its first NUL.
std::string BridgeTextIn(char* buffer, std::size_t size, std::size_t length);
