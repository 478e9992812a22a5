#pragma once

#include "PortConfig.h"

#include <optional>
#include <string>
#include <utility>

namespace simeq {

// Watches portN.conf by content and acknowledges each change in portN.applied:
//   seq=<the conf's seq value>\ncount=<changes seen>\nstatus=ok|error <why>\n
// A writer that puts a fresh seq in each conf waits for it there.
class ConfigSource {
  public:
    ConfigSource(std::string confPath, std::string appliedPath)
        : confPath_(std::move(confPath)), appliedPath_(std::move(appliedPath)) {}

    // A config to apply when the file changed (a removed file means defaults);
    // nothing when it did not change or was rejected.
    std::optional<PortConfig> poll();
    // After the config from poll() is in effect: only then may the writer go on.
    void confirm(const PortConfig& applied);

  private:
    void acknowledge(const std::string& seq, const std::string& status);

    std::string confPath_;
    std::string appliedPath_;
    bool first_ = true;
    std::optional<std::string> lastText_;
    unsigned count_ = 0;
};

} // namespace simeq
