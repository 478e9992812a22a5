// The web's error codes: errno values, which the web's own files set from what the browser
// reported, worded by the C library.
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

SystemError LastSystemError() {
    return static_cast<SystemError>(errno);
}

std::string SystemText(SystemError error) {
    return std::strerror(static_cast<int>(error));
}

bool IsPermissionDenied(SystemError error) {
    return error == EACCES || error == EPERM;
}
