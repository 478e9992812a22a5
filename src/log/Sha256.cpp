#include "log/Sha256.h"

#include "common/Sha256Digest.h"

#include <vector>

namespace {
constexpr DWORD kReadBytes = 64 * 1024;
} // namespace

bool Sha256OfOpenFile(HANDLE file, std::string& hex, DWORD& seekError) {
    hex.clear();
    seekError = ERROR_SUCCESS;
    const LARGE_INTEGER start{};
    // The reason is taken at the failing seek, before any other call can change it.
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        seekError = ::GetLastError();
        return false;
    }
    Sha256Digest hash;
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
