#pragma once
// The two-character number fields of a firmware file's header.

#include <optional>

// Reads a field of at most two characters, ending early at a NUL, as sscanf with "%d" reads
// it: leading blanks skipped, an optional sign, at least one digit, anything after ignored.
std::optional<int> ParseHeaderField(const char* field);
