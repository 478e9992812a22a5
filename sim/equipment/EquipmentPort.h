#pragma once

#include "CommandScanner.h"
#include "ConfigSource.h"
#include "DeviceLink.h"
#include "FileWatch.h"
#include "Pacer.h"
#include "PortConfig.h"
#include "Pty.h"
#include "Recorder.h"
#include "ReplyQueue.h"
#include "Time.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace simeq {

// One simulated unit behind COMn: its links, recording and behaviour. Its
// state files are portN.*, not comN.*: to Windows "com7.rx" names the device
// COM7, so a Wine test could not read them.
//
// A session is the time the tool has the port open; closing it returns the
// unit to command state. Each session gets a pty of its own: when the tool
// opens the pty the link points to, the link moves on to a fresh one. A tool
// that closes and at once reopens the port so lands on a new pty, and bytes
// of the two sessions cannot mix in one buffer. An ended pty lingers a
// moment, so a tool that reopened it before the link moved still works.
class EquipmentPort {
  public:
    EquipmentPort(int number, const std::string& stateDir, const std::string& dosDevicesDir,
                  FileWatch& watch);
    ~EquipmentPort();
    EquipmentPort(const EquipmentPort&) = delete;
    EquipmentPort& operator=(const EquipmentPort&) = delete;

    bool start(TimePoint now, std::string& error);
    void shutdown();

    void onWatchEvent(int watchId, FileWatch::Event event, TimePoint now);
    void onWatchOverflow(TimePoint now);

    // Called every few milliseconds: conf changes, lost-close recovery.
    void housekeeping(TimePoint now);

    void addPollFds(TimePoint now, std::vector<pollfd>& fds) const;
    std::optional<TimePoint> deadline(TimePoint now) const;
    void onPoll(const pollfd* fds, std::size_t count, TimePoint now);
    void onTimers(TimePoint now);

  private:
    // A pty, and the session on it once the tool opens it.
    struct Line {
        Pty pty;
        int watchId = -1;
        int openers = 0; // opens minus closes seen by inotify
        CommandScanner scanner;
        ReplyQueue replies;
        std::optional<TimePoint> closedSeen; // read said "closed" before inotify did
        std::optional<TimePoint> endedAt;    // the session is over; closed soon
        std::uint64_t bytes = 0;
    };

    bool createIdleLine(std::string& error);
    void closeLine(std::unique_ptr<Line>& line);
    void applyConfig(const PortConfig& config, TimePoint now);
    std::size_t readLimit(TimePoint now, bool paced) const;
    Pty::Status readSome(Line& line, TimePoint now, bool paced);
    void scheduleReply(Line& line, TimePoint now);
    void flushReplies(Line& line, TimePoint now);
    void beginSession(Line& line);
    void endSession(Line& line, TimePoint now, const char* how);
    void hangUp();

    FileWatch& watch_;
    DeviceLink link_;
    Recorder recorder_;
    ConfigSource config_;
    std::string rxPath_;
    std::string eventsPath_;
    std::string unpluggedPath_; // never created: where the link leads after a hang-up

    PortConfig cfg_;
    Pacer pacer_;
    std::vector<std::uint8_t> buffer_;

    std::unique_ptr<Line> idle_;               // where the link points; nobody on it yet
    std::vector<std::unique_ptr<Line>> lines_; // ptys the tool opened: in session or ended
    bool dead_ = false;                        // hung up: no pty at all until the next conf change
    std::uint64_t sinceApply_ = 0;             // bytes read since the conf was applied
    // Set when a session that carried firmware ends; the conf's next change clears it.
    std::optional<TimePoint> updatedAt_;
};

} // namespace simeq
