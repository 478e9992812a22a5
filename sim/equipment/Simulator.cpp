#include "Simulator.h"

#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace simeq {
namespace {

// Conf files, the stop file and the parent are looked at this often.
constexpr Millis kHousekeeping{10};

volatile std::sig_atomic_t g_signal = 0;

} // namespace

void Simulator::requestStop(int signal) {
    g_signal = signal;
}

Simulator::Simulator(Options options) : options_(std::move(options)) {}

int Simulator::run() {
    std::string error;
    if (!setUp(error)) {
        std::fprintf(stderr, "orvane-sim-equipment: %s\n", error.c_str());
        writeFileAtomically(options_.stateDir + "/failed", error + "\n");
        tearDown("failed");
        return 1;
    }
    writeFileAtomically(options_.stateDir + "/ready", "ok\n");
    loop();
    tearDown(stopReason_);
    return 0;
}

bool Simulator::setUp(std::string& error) {
    const std::string& dir = options_.stateDir;
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot create " + dir + ": " + std::strerror(errno);
        return false;
    }
    for (const char* stale : {"/ready", "/failed", "/exited", "/stop"})
        ::unlink((dir + stale).c_str());

    struct stat st {};
    if (::stat(options_.dosDevicesDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "no directory " + options_.dosDevicesDir;
        return false;
    }
    if (!watch_.init(error))
        return false;

    const pid_t parent = options_.parentPid.value_or(::getppid());
    if (parent > 1) {
        parentFd_ = static_cast<int>(::syscall(SYS_pidfd_open, parent, 0));
        if (parentFd_ < 0) {
            error = "parent " + std::to_string(parent) + " is gone";
            return false;
        }
    }
    if (!options_.watchFile.empty()) {
        watchFileId_ = watch_.watchOpenClose(options_.watchFile);
        if (watchFileId_ < 0) {
            error = "cannot watch " + options_.watchFile;
            return false;
        }
    }

    endOfLife_ = Clock::now() + std::chrono::seconds(options_.lifetimeSeconds);
    for (int number : options_.ports) {
        ports_.push_back(
            std::make_unique<EquipmentPort>(number, dir, options_.dosDevicesDir, watch_));
        if (!ports_.back()->start(Clock::now(), error))
            return false;
    }
    return true;
}

std::string Simulator::checkStop(TimePoint now) const {
    if (g_signal != 0)
        return "signal " + std::to_string(g_signal);
    if (fileExists(options_.stateDir + "/stop"))
        return "stop";
    if (now >= endOfLife_)
        return "lifetime";
    return {};
}

void Simulator::loop() {
    // Signals stay blocked except inside ppoll, so none is lost between the
    // check and the wait.
    sigset_t blocked;
    sigset_t waiting;
    sigemptyset(&blocked);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&blocked, s);
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigdelset(&waiting, s);

    std::vector<pollfd> fds;
    std::vector<std::size_t> starts(ports_.size() +
                                    1); // ports_[i] owns fds[starts[i]..starts[i+1])
    TimePoint nextHousekeeping = Clock::now();
    while (stopReason_.empty()) {
        TimePoint now = Clock::now();
        if (now >= nextHousekeeping) {
            stopReason_ = checkStop(now);
            if (!stopReason_.empty())
                break;
            for (auto& port : ports_)
                port->housekeeping(now);
            nextHousekeeping = now + kHousekeeping;
        }

        fds.clear();
        fds.push_back({watch_.fd(), POLLIN, 0});
        if (parentFd_ >= 0)
            fds.push_back({parentFd_, POLLIN, 0});
        TimePoint wake = nextHousekeeping;
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            starts[i] = fds.size();
            ports_[i]->addPollFds(now, fds);
            if (auto due = ports_[i]->deadline(now))
                wake = std::min(wake, *due);
        }
        starts[ports_.size()] = fds.size();
        const auto wait = std::max(Clock::duration::zero(), wake - now);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>((wait - seconds).count())};
        if (::ppoll(fds.data(), fds.size(), &timeout, &waiting) < 0 && errno != EINTR) {
            stopReason_ = "poll failed";
            break;
        }
        now = Clock::now();

        if (fds[0].revents & POLLIN) {
            watch_.drain([&](int id, FileWatch::Event event) {
                if (id >= 0 && id == watchFileId_ && event != FileWatch::Event::Opened) {
                    stopReason_ = "watch-file";
                    return;
                }
                for (auto& port : ports_) {
                    if (event == FileWatch::Event::Overflow)
                        port->onWatchOverflow(now);
                    else
                        port->onWatchEvent(id, event, now);
                }
            });
        }
        if (parentFd_ >= 0 && fds[1].revents)
            stopReason_ = "parent";
        for (std::size_t i = 0; i < ports_.size(); ++i)
            ports_[i]->onPoll(fds.data() + starts[i], starts[i + 1] - starts[i], now);
        for (auto& port : ports_)
            port->onTimers(now);
    }
}

void Simulator::tearDown(const std::string& reason) {
    for (auto& port : ports_)
        port->shutdown();
    ports_.clear();
    if (parentFd_ >= 0)
        ::close(parentFd_);
    // Last, so a client that sees it knows the links are gone.
    writeFileAtomically(options_.stateDir + "/exited", reason + "\n");
}

} // namespace simeq
