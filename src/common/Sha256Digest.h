#pragma once
// SHA-256 (FIPS 180-4) in plain C++, the same on every system: the firmware files' checksums
// that the console program records.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256Digest {
  public:
    Sha256Digest();
    void Add(const void* data, size_t size);
    // The digest of everything added, in lowercase hex. Call once.
    std::string Finish();

  private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_block{};
    size_t m_filled = 0;
    std::uint64_t m_length = 0; // bytes added
};
