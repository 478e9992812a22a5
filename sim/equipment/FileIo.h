#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace simeq {

// Whole-file helpers for the small state files shared with the test process.
std::optional<std::string> readWholeFile(const std::string& path);

// Writes through a temporary name and renames it into place, so a reader in
// another process sees either the old or the new content, never a torn one.
bool writeFileAtomically(const std::string& path, const std::string& content);

bool fileExists(const std::string& path);

// Writes all of it, retrying on EINTR and short writes.
bool writeAll(int fd, const void* data, std::size_t size);

} // namespace simeq
