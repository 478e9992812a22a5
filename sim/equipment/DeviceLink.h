#pragma once

#include <string>
#include <utility>

namespace simeq {

// dosdevices/comN -> the pty slave: how a Wine program finds "COMn".
class DeviceLink {
  public:
    explicit DeviceLink(std::string linkPath) : linkPath_(std::move(linkPath)) {}
    ~DeviceLink() { remove(); }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Replaces whatever link is there, atomically.
    bool pointTo(const std::string& target, std::string& error);
    // Removes the link only if it still points where we put it.
    void remove();

  private:
    std::string linkPath_;
    std::string target_;
};

} // namespace simeq
