// The line on Linux and other POSIX systems: a tty opened without blocking, locked with flock,
// set raw through termios, and waited on with poll.
#include "device/SerialLinePosix.h"

#include "common/Clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The termios speed for a rate; B0 for a rate this system cannot set.
speed_t SpeedOf(std::uint32_t baudRate) {
    switch (baudRate) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

// Waits for the port to be ready for events, one slice at a time; a hang-up fails the wait.
WaitStep PollOnce(int fd, short events, std::uint32_t sliceMs, SystemError& error) {
    pollfd watched{fd, events, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(sliceMs));
    if (ready < 0) {
        if (errno == EINTR) // a signal, such as Ctrl+C: the hook decides
            return WaitStep::NotYet;
        error = LastSystemError();
        return WaitStep::Failed;
    }
    if (ready == 0)
        return WaitStep::NotYet;
    if (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        error = kErrorRemoved;
        return WaitStep::Failed;
    }
    return WaitStep::Ready;
}

// tcdrain has no time limit: it runs on a thread of its own, and a wait that gives up ends it
// with this signal, whose handler does nothing and lets the call return with EINTR.
constexpr int kDrainInterruptSignal = SIGURG;

void OnDrainInterrupt(int) {}

void InstallDrainInterrupt() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = OnDrainInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the interrupted tcdrain returns
        ::sigaction(kDrainInterruptSignal, &action, nullptr);
    });
}

// One tcdrain on its own thread; its end read from the waiting one.
struct DrainCall {
    std::atomic<bool> stop{false}; // the wait gave up: an interrupted tcdrain is not repeated
    std::atomic<bool> ended{false};
    int result = 0;
    SystemError error = kNoSystemError;
};

} // namespace

SerialLine::SerialLine(LineProbe* probe) : m_native(std::make_unique<Native>()), m_probe(probe) {}

SerialLine::~SerialLine() {
    Release();
}

bool SerialLine::IsOpen() const {
    return m_native->fd >= 0;
}

LineResult SerialLine::OpenPort(const std::string& port, const LineSettings& settings) {
    Native& native = *m_native;
    native.fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (native.fd < 0)
        return LineResult::Failure(LineError::Open);
    // flock is the lock that decides: every program that opens ports this way sees it.
    // TIOCEXCL also keeps out programs that do not lock, where the driver supports it.
    if (::flock(native.fd, LOCK_EX | LOCK_NB) != 0) {
        const SystemError error = errno == EWOULDBLOCK ? EBUSY : LastSystemError();
        ::close(native.fd);
        native.fd = -1;
        return LineResult::Failure(LineError::Open, error);
    }
    ::ioctl(native.fd, TIOCEXCL);
    if (::tcflush(native.fd, TCIOFLUSH) != 0)
        return LineResult::Failure(LineError::Purge);
    termios found{};
    if (::tcgetattr(native.fd, &found) != 0)
        return LineResult::Failure(LineError::GetState);
    native.saved = found;
    native.hasSaved = true;
    native.discardOutput = false;

    const speed_t speed = SpeedOf(settings.baudRate);
    if (speed == B0)
        return LineResult::Failure(LineError::SetState, EINVAL);
    // Raw: no translation of input or output, no echo, no signals from the line, 8N1, the
    // receiver on, the modem lines ignored for opening, and no XON/XOFF in either direction.
    termios line = found;
    ::cfmakeraw(&line);
    line.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP);
    line.c_iflag |= IGNBRK;
    line.c_cflag &= ~(CSIZE | PARENB | CSTOPB | HUPCL);
    line.c_cflag |= CS8 | CREAD | CLOCAL;
    if (settings.hardwareFlowControl)
        line.c_cflag |= CRTSCTS;
    else
        line.c_cflag &= ~CRTSCTS;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (::cfsetispeed(&line, speed) != 0 || ::cfsetospeed(&line, speed) != 0 ||
        ::tcsetattr(native.fd, TCSANOW, &line) != 0)
        return LineResult::Failure(LineError::SetState);
    // A unit that watches DTR sees a host present; a port without modem lines does without.
    const int dtr = TIOCM_DTR;
    ::ioctl(native.fd, TIOCMBIS, &dtr);
    return LineResult::Success();
}

LineResult SerialLine::WritePiece(const std::uint8_t* data, std::uint32_t size,
                                  std::uint32_t& moved, std::uint32_t stallLimitMs,
                                  const WaitHook& keepWaiting) {
    Native& native = *m_native;
    moved = 0;
    const auto fail = [&native](LineError step, SystemError error) {
        native.discardOutput = true;
        return LineResult::Failure(step, error);
    };
    while (moved < size) {
        const ssize_t taken = ::write(native.fd, data + moved, size - moved);
        if (taken > 0) {
            moved += static_cast<std::uint32_t>(taken);
            continue;
        }
        // An unplugged adapter (EIO, ENXIO, ENODEV) fails here at once.
        if (taken < 0 && errno != EAGAIN && errno != EINTR)
            return fail(LineError::Write, LastSystemError());
        // The unit holds the line (CTS off) or the queue is full: wait for room, the stall
        // limit counting from the last byte taken.
        SystemError error = kNoSystemError;
        switch (WaitInSlices(stallLimitMs, keepWaiting, [&](std::uint32_t sliceMs) {
            return PollOnce(native.fd, POLLOUT, sliceMs, error);
        })) {
        case Wait::Completed:
            break;
        case Wait::TimedOut:
            return fail(LineError::Stalled, kErrorTimeout);
        case Wait::Cancelled:
            return fail(LineError::Cancelled, kErrorCancelled);
        case Wait::Failed:
            return fail(LineError::Write, error);
        }
    }
    return LineResult::Success();
}

LineResult SerialLine::ReadPass(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got,
                                std::uint32_t limitMs) {
    const int fd = m_native->fd;
    got = 0;
    SystemError error = kNoSystemError;
    switch (PollOnce(fd, POLLIN, limitMs, error)) {
    case WaitStep::NotYet:
        return LineResult::Success(); // the caller's limit decides
    case WaitStep::Failed:
        return LineResult::Failure(LineError::Read, error);
    case WaitStep::Ready:
        break;
    }
    const ssize_t read = ::read(fd, buffer, size);
    if (read > 0) {
        got = static_cast<std::uint32_t>(read);
        return LineResult::Success();
    }
    if (read == 0)
        return LineResult::Failure(LineError::Read, kErrorRemoved);
    if (errno == EAGAIN || errno == EINTR)
        return LineResult::Success();
    return LineResult::Failure(LineError::Read);
}

LineResult SerialLine::QueuedOutput(std::uint32_t& bytes) {
    int queued = 0;
    if (::ioctl(m_native->fd, TIOCOUTQ, &queued) != 0) {
        // A port that cannot measure its queue (some test beds) counts as drained.
        if (errno == ENOTTY || errno == EINVAL) {
            bytes = 0;
            return LineResult::Success();
        }
        return LineResult::Failure(LineError::Write);
    }
    bytes = queued > 0 ? static_cast<std::uint32_t>(queued) : 0;
    return LineResult::Success();
}

LineResult SerialLine::WaitUntilSent(std::uint32_t stallLimitMs, const WaitHook& keepWaiting) {
    InstallDrainInterrupt();
    const int fd = m_native->fd;
    auto call = std::make_shared<DrainCall>();
    std::thread drainer([call, fd] {
        int result;
        do {
            result = ::tcdrain(fd);
        } while (result != 0 && errno == EINTR && !call->stop);
        call->result = result;
        call->error = result == 0 ? kNoSystemError : LastSystemError();
        call->ended = true;
    });
    const Wait waited = WaitInSlices(stallLimitMs, keepWaiting, [&](std::uint32_t sliceMs) {
        for (std::uint64_t until = MonotonicMs() + sliceMs; !call->ended;) {
            const std::uint64_t now = MonotonicMs();
            if (now >= until)
                return WaitStep::NotYet;
            PauseMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(until - now, 5)));
        }
        return call->result == 0 ? WaitStep::Ready : WaitStep::Failed;
    });
    if (waited != Wait::Completed && waited != Wait::Failed) {
        // What the unit did not take is thrown away, and the drain interrupted until it returns.
        ::tcflush(fd, TCOFLUSH);
        m_native->discardOutput = true;
        call->stop = true;
        while (!call->ended) {
            ::pthread_kill(drainer.native_handle(), kDrainInterruptSignal);
            PauseMs(5);
        }
    }
    drainer.join();
    switch (waited) {
    case Wait::Completed:
        return LineResult::Success();
    case Wait::Failed:
        // A port that cannot drain (some test beds) counts as drained, as for its queue.
        if (call->error == ENOTTY || call->error == EINVAL)
            return LineResult::Success();
        return LineResult::Failure(LineError::Write, call->error);
    case Wait::TimedOut:
        return LineResult::Failure(LineError::Stalled, kErrorTimeout);
    case Wait::Cancelled:
        break;
    }
    return LineResult::Failure(LineError::Cancelled, kErrorCancelled);
}

void SerialLine::DiscardOutput() {
    ::tcflush(m_native->fd, TCOFLUSH);
    m_native->discardOutput = true;
}

void SerialLine::Release() {
    Native& native = *m_native;
    if (native.fd < 0)
        return;
    if (native.hasSaved) {
        // Output is drained by whoever needs it gone (the transfer) before the line is closed;
        // a flush here would drop the file's last bytes wherever the queue cannot be measured
        // (a pty reports none), so only a failed or cancelled write's leftovers are dropped.
        ::tcflush(native.fd, native.discardOutput ? TCIOFLUSH : TCIFLUSH);
        ::tcsetattr(native.fd, TCSANOW, &native.saved);
        native.hasSaved = false;
        Note(LineStep::SettingsRestored);
    }
    ::close(native.fd);
    native.fd = -1;
    Note(LineStep::Closed);
}
