#include "DeviceLink.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace simeq {

bool DeviceLink::pointTo(const std::string& target, std::string& error) {
    const std::string temp = linkPath_ + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0 ||
        ::rename(temp.c_str(), linkPath_.c_str()) != 0) {
        error = "cannot link " + linkPath_ + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    target_ = target;
    return true;
}

void DeviceLink::remove() {
    if (target_.empty())
        return;
    char current[PATH_MAX];
    ssize_t n = ::readlink(linkPath_.c_str(), current, sizeof current - 1);
    if (n >= 0 && target_ == std::string(current, static_cast<std::size_t>(n)))
        ::unlink(linkPath_.c_str());
    target_.clear();
}

} // namespace simeq
