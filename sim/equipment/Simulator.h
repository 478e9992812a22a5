#pragma once

#include "EquipmentPort.h"
#include "FileWatch.h"
#include "Options.h"
#include "Time.h"

#include <memory>
#include <string>
#include <vector>

namespace simeq {

// Serves all ports in one poll loop until told to stop. Writes STATE_DIR/ready
// ("ok") once every link is in place, STATE_DIR/failed if it could not get
// there, and STATE_DIR/exited (the reason) after the links are removed.
class Simulator {
  public:
    explicit Simulator(Options options);
    int run();

    // From a signal handler.
    static void requestStop(int signal);

  private:
    bool setUp(std::string& error);
    void loop();
    std::string checkStop(TimePoint now) const;
    void tearDown(const std::string& reason);

    Options options_;
    FileWatch watch_;
    std::vector<std::unique_ptr<EquipmentPort>> ports_;
    int watchFileId_ = -1;
    int parentFd_ = -1;
    std::string stopReason_; // empty while running
    TimePoint endOfLife_{};
};

} // namespace simeq
