#include "EquipmentPort.h"

#include <algorithm>
#include <cstdio>

namespace simeq {
namespace {

constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kDrainRounds = 64;
// inotify normally reports a close long before this; past it we trust EIO.
constexpr Millis kLostCloseGrace{200};
// How long an ended session's pty stays open for a quick reopen.
constexpr Millis kEndedLinger{1000};

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    return text;
}

} // namespace

EquipmentPort::EquipmentPort(int number, const std::string& stateDir,
                             const std::string& dosDevicesDir, FileWatch& watch)
    : watch_(watch), link_(dosDevicesDir + "/com" + std::to_string(number)),
      config_(stateDir + "/port" + std::to_string(number) + ".conf",
              stateDir + "/port" + std::to_string(number) + ".applied"),
      rxPath_(stateDir + "/port" + std::to_string(number) + ".rx"),
      eventsPath_(stateDir + "/port" + std::to_string(number) + ".events"),
      unpluggedPath_(stateDir + "/port" + std::to_string(number) + ".unplugged"),
      buffer_(kReadChunk) {}

EquipmentPort::~EquipmentPort() {
    shutdown();
}

bool EquipmentPort::start(TimePoint now, std::string& error) {
    if (!recorder_.open(rxPath_, eventsPath_, error) || !createIdleLine(error))
        return false;
    housekeeping(now);
    return true;
}

void EquipmentPort::shutdown() {
    link_.remove();
    closeLine(idle_);
    for (auto& line : lines_)
        closeLine(line);
    lines_.clear();
}

bool EquipmentPort::createIdleLine(std::string& error) {
    auto line = std::make_unique<Line>();
    if (!line->pty.open(error))
        return false;
    if (cfg_.xonXoff && !line->pty.setXonXoff(true)) {
        error = "cannot turn XON/XOFF on";
        return false;
    }
    // Watch before linking: the tool can only find the slave through the link.
    line->watchId = watch_.watchOpenClose(line->pty.slavePath());
    if (line->watchId < 0) {
        error = "cannot watch " + line->pty.slavePath();
        return false;
    }
    if (!link_.pointTo(line->pty.slavePath(), error)) {
        closeLine(line);
        return false;
    }
    recorder_.event("link " + line->pty.slavePath());
    idle_ = std::move(line);
    dead_ = false;
    return true;
}

void EquipmentPort::closeLine(std::unique_ptr<Line>& line) {
    if (!line)
        return;
    watch_.unwatch(line->watchId);
    line.reset();
}

void EquipmentPort::applyConfig(const PortConfig& config, TimePoint now) {
    cfg_ = config;
    sinceApply_ = 0;
    updatedAt_.reset();
    pacer_.reset(cfg_.pacedRate, now);
    recorder_.event("conf mode=" + std::string(modeName(cfg_.mode)) + " seq=" + cfg_.seq);
    if (dead_) {
        std::string error;
        if (!createIdleLine(error))
            recorder_.event("error " + error);
    } else if (idle_ && !idle_->pty.setXonXoff(cfg_.xonXoff)) {
        recorder_.event("error cannot set XON/XOFF");
    }
    if (cfg_.mode == Mode::Hangup && cfg_.hangupAfter == 0)
        hangUp();
}

void EquipmentPort::housekeeping(TimePoint now) {
    if (std::optional<PortConfig> config = config_.poll()) {
        applyConfig(*config, now);
        config_.confirm(*config);
    }
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        Line& line = *lines_[i];
        if (line.openers > 0 && line.closedSeen && now - *line.closedSeen > kLostCloseGrace) {
            line.openers = 0;
            endSession(line, now, "close-late");
        }
    }
    std::erase_if(lines_, [&](std::unique_ptr<Line>& line) {
        if (!line->endedAt || now - *line->endedAt < kEndedLinger)
            return false;
        closeLine(line);
        return true;
    });
}

void EquipmentPort::onWatchEvent(int watchId, FileWatch::Event event, TimePoint now) {
    if (idle_ && idle_->watchId == watchId && event == FileWatch::Event::Opened) {
        idle_->openers = 1;
        beginSession(*idle_);
        lines_.push_back(std::move(idle_));
        std::string error;
        if (!createIdleLine(error))
            recorder_.event("error " + error);
        return;
    }
    for (auto& line : lines_) {
        if (line->watchId != watchId)
            continue;
        if (event == FileWatch::Event::Opened && line->openers++ == 0)
            beginSession(*line);
        else if (event == FileWatch::Event::Closed && line->openers > 0 && --line->openers == 0)
            endSession(*line, now, "close");
        return;
    }
}

void EquipmentPort::onWatchOverflow(TimePoint now) {
    // Events were lost: ask the ptys. A hang-up means nobody has the slave open.
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        Line& line = *lines_[i];
        pollfd p{line.pty.fd(), 0, 0};
        if (line.openers > 0 && ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) {
            line.openers = 0;
            endSession(line, now, "close");
        }
    }
}

void EquipmentPort::beginSession(Line& line) {
    recorder_.event("open " + line.pty.slavePath());
    line.scanner.reset();
    line.replies.clear();
    line.closedSeen.reset();
    line.endedAt.reset();
    line.bytes = 0;
}

void EquipmentPort::endSession(Line& line, TimePoint now, const char* how) {
    // The tool's last writes are still in the pty; they count, unpaced (the
    // line is gone), but within the stall and hang-up limits.
    for (std::size_t i = 0; i < kDrainRounds && !dead_; ++i) {
        if (readSome(line, now, false) != Pty::Status::Data)
            break;
    }
    if (dead_)
        return; // the drain reached the hang-up limit; hangUp() tidied up
    // The line's XON/XOFF as the tool left it: a tool that puts back the settings it found
    // leaves it as the conf's xonxoff set it.
    recorder_.event(std::string(how) + " bytes=" + std::to_string(line.bytes) +
                    " firmware=" + std::to_string(line.scanner.firmwareBytes()) +
                    " xonxoff=" + (line.pty.xonXoff() ? "1" : "0"));
    if (cfg_.mode == Mode::Stall)
        line.pty.discardInput(); // never read, never recorded
    line.replies.clear();
    line.endedAt = now;
    if (line.scanner.firmwareBytes() > 0)
        updatedAt_ = now;         // the unit restarts on its new firmware
    pacer_.consume(0, now, true); // the line falls quiet
}

void EquipmentPort::hangUp() {
    // Like an unplugged bridge: open handles fail, the link leads nowhere.
    // Not to the old /dev/pts/N, which the next pty anyone creates may reuse.
    std::string error;
    link_.pointTo(unpluggedPath_, error);
    std::uint64_t bytes = 0;
    for (auto& line : lines_) {
        if (!line->endedAt)
            bytes += line->bytes;
        closeLine(line);
    }
    lines_.clear();
    closeLine(idle_);
    dead_ = true;
    recorder_.event("hangup bytes=" + std::to_string(bytes));
}

std::size_t EquipmentPort::readLimit(TimePoint now, bool paced) const {
    const auto left = [this](std::uint64_t cap) {
        return static_cast<std::size_t>(
            std::min<std::uint64_t>(kReadChunk, cap > sinceApply_ ? cap - sinceApply_ : 0));
    };
    switch (cfg_.mode) {
    case Mode::Stall:
        return left(cfg_.stallAfter);
    case Mode::Hangup:
        return left(cfg_.hangupAfter);
    case Mode::Paced:
        return !paced ? kReadChunk : pacer_.ready(now) ? pacer_.available(now) : 0;
    default:
        return kReadChunk;
    }
}

Pty::Status EquipmentPort::readSome(Line& line, TimePoint now, bool paced) {
    const std::size_t limit = readLimit(now, paced);
    if (limit == 0)
        return Pty::Status::Empty;
    const Pty::Result r = line.pty.read(buffer_.data(), std::min(limit, buffer_.size()));
    if (paced && cfg_.mode == Mode::Paced)
        pacer_.consume(r.bytes, now, r.bytes < limit);
    if (r.status == Pty::Status::Closed && !line.closedSeen)
        line.closedSeen = now;
    if (r.status != Pty::Status::Data)
        return r.status;

    recorder_.received(buffer_.data(), r.bytes);
    sinceApply_ += r.bytes;
    line.bytes += r.bytes;
    line.scanner.scan(buffer_.data(), r.bytes, [&](CommandScanner::Command command) {
        if (command == CommandScanner::Command::Version) {
            recorder_.event("ver");
            scheduleReply(line, now);
        } else {
            recorder_.event("pgm");
        }
    });
    if (cfg_.mode == Mode::Hangup && sinceApply_ >= cfg_.hangupAfter)
        hangUp();
    return Pty::Status::Data;
}

void EquipmentPort::scheduleReply(Line& line, TimePoint now) {
    const bool updated = updatedAt_.has_value();
    if (updated && now - *updatedAt_ < cfg_.rebootTime)
        return; // still restarting
    const std::vector<std::uint8_t>& reply =
        updated && cfg_.updatedReply ? *cfg_.updatedReply : cfg_.reply;
    const TimePoint at = now + cfg_.delay;
    switch (cfg_.mode) {
    case Mode::Silent:
        return;
    case Mode::OneByte:
        line.replies.schedule(at, {reply.front()});
        return;
    case Mode::Split:
        line.replies.schedule(at, {reply.front()});
        line.replies.schedule(at + cfg_.splitPause, {reply.begin() + 1, reply.end()});
        return;
    default:
        line.replies.schedule(at, reply);
        return;
    }
}

void EquipmentPort::flushReplies(Line& line, TimePoint now) {
    const std::vector<std::uint8_t> written = line.replies.flush(line.pty, now);
    if (!written.empty())
        recorder_.event("reply " + hex(written));
}

void EquipmentPort::addPollFds(TimePoint now, std::vector<pollfd>& fds) const {
    // Only sessions are polled: a pty nobody has open reports a hang-up
    // continuously once it has been closed, and inotify says when that ends.
    // A paced line that fell idle polls to learn when bytes wait again.
    const bool mayRead = readLimit(now, true) > 0 || (cfg_.mode == Mode::Paced && pacer_.idle());
    for (const auto& line : lines_) {
        if (line->openers == 0)
            continue;
        short events = 0;
        if (mayRead && !line->closedSeen)
            events |= POLLIN;
        if (line->replies.waitingForSpace())
            events |= POLLOUT;
        if (events)
            fds.push_back({line->pty.fd(), events, 0});
    }
}

std::optional<TimePoint> EquipmentPort::deadline(TimePoint now) const {
    std::optional<TimePoint> due;
    for (const auto& line : lines_) {
        if (auto next = line->replies.nextDue())
            due = due ? std::min(*due, *next) : *next;
    }
    if (cfg_.mode == Mode::Paced && !pacer_.idle() && !pacer_.ready(now)) {
        const TimePoint ready = pacer_.readyAt();
        due = due ? std::min(*due, ready) : ready;
    }
    return due;
}

void EquipmentPort::onPoll(const pollfd* fds, std::size_t count, TimePoint now) {
    for (std::size_t i = 0; i < count && !dead_; ++i) {
        for (auto& line : lines_) {
            if (line->openers == 0 || line->pty.fd() != fds[i].fd)
                continue;
            if (fds[i].revents & POLLOUT)
                flushReplies(*line, now);
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && !line->closedSeen) {
                if (cfg_.mode == Mode::Paced && pacer_.idle())
                    pacer_.start(now); // the first bytes still take their time
                else
                    readSome(*line, now, true);
            }
            break;
        }
    }
}

void EquipmentPort::onTimers(TimePoint now) {
    for (auto& line : lines_) {
        const std::optional<TimePoint> due = line->replies.nextDue();
        if (due && *due <= now)
            flushReplies(*line, now);
    }
}

} // namespace simeq
