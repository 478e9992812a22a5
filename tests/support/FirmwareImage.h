#pragma once
// Firmware images for the tests.

#include <cstddef>
#include <string>

// A firmware image: the given device ID and version in the header (as much of them as the size
// holds), every other byte from a pattern that runs through all byte values and differs from
// chunk to chunk.
std::string FirmwareImage(size_t size, const std::string& deviceId = "01",
                          const std::string& version = "08");
