#include "TestSupport.h"

#include "../client/StateFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace simtest {

std::string g_binary;
static int g_failures = 0;

void fail(const char* file, int line, const std::string& what) {
    ++g_failures;
    std::fprintf(stderr, "  FAILED %s:%d: %s\n", file, line, what.c_str());
}

std::vector<TestCase>& registry() {
    static std::vector<TestCase> cases;
    return cases;
}

bool waitUntil(const std::function<bool()>& done, Millis timeout) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(Millis(1));
    }
    return true;
}

std::optional<std::string> readFile(const std::string& path) {
    return sim_state::ReadFile(path);
}

pid_t spawn(std::vector<std::string> args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

SimProcess::SimProcess(const std::vector<int>& ports, const std::vector<std::string>& options) {
    char root[] = "/tmp/simeq-test.XXXXXX";
    REQUIRE(::mkdtemp(root) != nullptr);
    root_ = root;
    std::filesystem::create_directory(root_ + "/dosdevices");
    std::vector<std::string> args{g_binary, "--lifetime", "120"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(root_ + "/state");
    args.push_back(root_ + "/dosdevices");
    for (int port : ports)
        args.push_back(std::to_string(port));
    pid_ = spawn(std::move(args));
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && !waitExit(Millis(0))) {
        ::kill(pid_, SIGTERM);
        waitExit(Millis(3000));
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool SimProcess::ready() const {
    return waitUntil([&] { return readFile(stateFile("ready")) == "ok\n"; }, Millis(5000));
}

std::string SimProcess::configure(int port, const std::string& text) {
    const std::string state = root_ + "/state";
    const unsigned seq = ++seq_;
    sim_state::WriteConf(state, port, text, seq);
    std::optional<std::string> status;
    waitUntil([&] { return (status = sim_state::Acknowledged(state, port, seq)).has_value(); },
              Millis(2000));
    return status.value_or("no acknowledgement");
}

std::string SimProcess::received(int port) const {
    return readFile(stateFile("port" + std::to_string(port) + ".rx")).value_or("");
}

bool SimProcess::waitReceived(int port, std::size_t size, Millis timeout) const {
    return waitUntil([&] { return received(port).size() >= size; }, timeout);
}

bool SimProcess::waitEvent(int port, const std::string& prefix, Millis timeout) const {
    return waitUntil(
        [&] {
            auto events = readFile(stateFile("port" + std::to_string(port) + ".events"));
            return events && sim_state::HasEventLine(*events, prefix);
        },
        timeout);
}

std::optional<int> SimProcess::waitExit(Millis timeout) {
    std::optional<int> status;
    waitUntil(
        [&] {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) != pid_)
                return false;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            pid_ = -1;
            return true;
        },
        timeout);
    return status;
}

Slave::Slave(const std::string& path, bool nonBlocking) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | (nonBlocking ? O_NONBLOCK : 0));
}

bool Slave::write(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string Slave::read(std::size_t size, Millis timeout) {
    std::string data;
    const auto end = Clock::now() + timeout;
    while (data.size() < size) {
        const auto left = std::chrono::duration_cast<Millis>(end - Clock::now()).count();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[256];
        ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, size - data.size()));
        if (n <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

void Slave::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::string pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
    for (std::size_t i = 1000; i + 4 <= size; i += 50000)
        data.replace(i, 4, "ver\r");
    return data;
}

} // namespace simtest

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SIM_BINARY [GROUP]\n", argv[0]);
        return 2;
    }
    simtest::g_binary = argv[1];
    const std::string group = argc > 2 ? argv[2] : "";
    int ran = 0;
    for (const auto& test : simtest::registry()) {
        if (!group.empty() && group != test.group)
            continue;
        ++ran;
        std::printf("%s.%s\n", test.group, test.name);
        std::fflush(stdout);
        try {
            test.run();
        } catch (const simtest::Abort&) {
        }
    }
    std::printf("%d tests, %d failed checks\n", ran, simtest::g_failures);
    return (ran > 0 && simtest::g_failures == 0) ? 0 : 1;
}
