#pragma once
// SHA-256 through the system's cryptography provider (BCrypt), given in lowercase hex.

#include <windows.h>

#include <bcrypt.h>

#include <string>

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // false once the provider has failed; every later call then does nothing.
    bool Add(const void* data, size_t size);
    // The digest of everything added; "" when the provider failed. Call once.
    std::string Finish();

    // The digest of the whole of an open file into hex ("" when a read or the provider failed).
    // The file is put back at its start afterwards; false when a seek to it failed, with that
    // seek's error code in seekError.
    static bool OfOpenFile(HANDLE file, std::string& hex, DWORD& seekError);

  private:
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    BCRYPT_HASH_HANDLE m_hash = nullptr;
    bool m_failed = false;
};
