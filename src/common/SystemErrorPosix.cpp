#include "common/SystemError.h"

#include <cerrno>
#include <cstring>

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
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in the buffer.
    return ::strerror_r(static_cast<int>(error), buffer, sizeof(buffer));
}

bool IsPermissionDenied(SystemError error) {
    return error == EACCES || error == EPERM;
}
