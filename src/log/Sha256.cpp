#include "log/Sha256.h"

#include <vector>

namespace {
constexpr DWORD kDigestBytes = 32;
constexpr DWORD kReadBytes = 64 * 1024;

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}
} // namespace

Sha256::Sha256() {
    // BCRYPT_SHA256_ALGORITHM is a wide string; the provider takes no ANSI form.
    m_failed = !Succeeded(::BCryptOpenAlgorithmProvider(&m_algorithm, BCRYPT_SHA256_ALGORITHM,
                                                        nullptr, 0)) ||
               !Succeeded(::BCryptCreateHash(m_algorithm, &m_hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
    if (m_hash)
        ::BCryptDestroyHash(m_hash);
    if (m_algorithm)
        ::BCryptCloseAlgorithmProvider(m_algorithm, 0);
}

bool Sha256::Add(const void* data, size_t size) {
    const auto* bytes = static_cast<const BYTE*>(data);
    while (!m_failed && size > 0) {
        const ULONG piece = size > kReadBytes ? kReadBytes : static_cast<ULONG>(size);
        m_failed = !Succeeded(::BCryptHashData(m_hash, const_cast<BYTE*>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
    return !m_failed;
}

std::string Sha256::Finish() {
    BYTE digest[kDigestBytes];
    if (m_failed || !Succeeded(::BCryptFinishHash(m_hash, digest, kDigestBytes, 0)))
        return "";
    m_failed = true; // a finished hash takes no more data
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (BYTE byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0F];
    }
    return hex;
}

bool Sha256::OfOpenFile(HANDLE file, std::string& hex, DWORD& seekError) {
    hex.clear();
    seekError = ERROR_SUCCESS;
    const LARGE_INTEGER start{};
    // The reason is taken at the failing seek: the hash's own calls would change it.
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        seekError = ::GetLastError();
        return false;
    }
    Sha256 hash;
    std::vector<BYTE> buffer(kReadBytes);
    DWORD read = 0;
    bool readOk = true;
    while ((readOk = ::ReadFile(file, buffer.data(), kReadBytes, &read, nullptr) != FALSE) &&
           read > 0)
        hash.Add(buffer.data(), read);
    if (readOk)
        hex = hash.Finish();
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        seekError = ::GetLastError();
        return false;
    }
    return true;
}
