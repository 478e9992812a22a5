#include "cli/Console.h"

#include "common/Clock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/ioctl.h>
#include <unistd.h>

const char* const kLineEnd = "\n";

namespace {

// A signal handler gets no context, so the flag it raises is the one piece of state the
// program keeps outside an object.
std::atomic<bool> g_cancelRequested{false};

void OnCancelSignal(int) {
    g_cancelRequested = true;
}

} // namespace

struct Console::Native {};

Console::Console() : m_native(std::make_unique<Native>()) {
    const char* term = std::getenv("TERM");
    m_outputIsTerminal = ::isatty(STDOUT_FILENO) == 1 && !(term && std::strcmp(term, "dumb") == 0);
    m_cursorMoves = m_outputIsTerminal;
    m_startMs = MonotonicMs();
}

Console::~Console() = default;

bool Console::InputIsTerminal() const {
    return ::isatty(STDIN_FILENO) == 1;
}

unsigned Console::SystemColumns() const {
    struct winsize size {};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void Console::Write(Stream stream, const std::string& text) {
    const int fd = stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return; // a closed pipe loses the rest, as on Windows
        done += static_cast<size_t>(wrote);
    }
}

bool Console::ReadInput(char& byte) {
    for (;;) {
        const ssize_t read = ::read(STDIN_FILENO, &byte, 1);
        if (read == 1)
            return true;
        // A signal ends the read only when it asked for a cancel.
        if (read < 0 && errno == EINTR && !CancelRequested())
            continue;
        return false;
    }
}

void Console::CatchCancel() {
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read of the answer or a pause ends, so the flag is seen at once.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // A reader that went away (orvane-update list | head) must not end the program before
    // its ports are closed; the write fails instead.
    ::signal(SIGPIPE, SIG_IGN);
}

bool Console::CancelRequested() {
    return g_cancelRequested;
}

std::string Console::LocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&now, &local))
        std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void Console::TransfersRunning(bool) {
    // Nothing to hold: the signals only raise the flag, so the process ends when the transfers
    // have.
}
