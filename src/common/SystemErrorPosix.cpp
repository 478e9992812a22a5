// errno values, worded by the C library: on Linux, and in the browser, where the web's own files
// set them from what the browser reported.
#include "common/SystemError.h"

#include <cerrno>
#include <cstring>

namespace {

// The GNU strerror_r returns the text, which need not be in the buffer; the POSIX one (the
// browser's C library) returns 0 and fills the buffer.
[[maybe_unused]] const char* StrerrorText(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* StrerrorText(int status, const char* buffer) {
    return status == 0 ? buffer : "Unknown error";
}

} // namespace

const SystemError kErrorTimeout = ETIMEDOUT;
const SystemError kErrorCancelled = ECANCELED;
const SystemError kErrorNotOpen = EBADF;
const SystemError kErrorShortWrite = EIO;
const SystemError kErrorEndOfFile = ENODATA;
const SystemError kErrorTooLarge = EFBIG;
const SystemError kErrorNoSuchPort = ENOENT;
const SystemError kErrorRemoved = ENODEV;
const SystemError kErrorNoSuchFile = ENOENT;
const SystemError kErrorNoSuchPath = ENOTDIR;

SystemError LastSystemError() {
    return static_cast<SystemError>(errno);
}

std::string SystemText(SystemError error) {
    char buffer[256] = "";
    return StrerrorText(::strerror_r(static_cast<int>(error), buffer, sizeof(buffer)), buffer);
}

bool IsPermissionDenied(SystemError error) {
    return error == EACCES || error == EPERM;
}
