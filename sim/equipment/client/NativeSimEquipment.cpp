#include "NativeSimEquipment.h"

#include "StateFolder.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadWholeFile(const std::string& path) {
    return sim_state::ReadFile(path).value_or("");
}

template <typename Done> bool WaitFor(NativeSimEquipment::Millis timeout, Done done) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(NativeSimEquipment::Millis(2));
    }
    return true;
}

} // namespace

NativeSimEquipment::~NativeSimEquipment() {
    Stop();
}

std::string NativeSimEquipment::Port(int port) const {
    return m_root + "/ports/com" + std::to_string(port);
}

std::string NativeSimEquipment::StateFile(int port, const char* suffix) const {
    return sim_state::PortFile(m_root + "/state", port, suffix);
}

bool NativeSimEquipment::Fail(const std::string& why) {
    m_error = why;
    return false;
}

bool NativeSimEquipment::Start(const std::vector<int>& ports) {
    const char* program = std::getenv("ORVANE_SIM_EQUIPMENT");
    if (!program)
        return Fail("ORVANE_SIM_EQUIPMENT is not set");
    const char* temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp ? temp : "/tmp") + "/orvane-sim-native.XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return Fail("cannot create a folder for the simulated equipment");
    m_root = pattern;
    fs::create_directory(m_root + "/ports");
    std::vector<std::string> args{program, "--lifetime", "600", m_root + "/state",
                                  m_root + "/ports"};
    for (const int port : ports)
        args.push_back(std::to_string(port));
    m_pid = ::fork();
    if (m_pid == 0) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (m_pid < 0)
        return Fail("cannot start " + std::string(program));
    const std::string ready = m_root + "/state/ready";
    if (WaitFor(Millis(10000), [&] { return ReadWholeFile(ready) == "ok\n"; }))
        return true;
    const std::string failed = ReadWholeFile(m_root + "/state/failed");
    Stop();
    return Fail(std::string(program) + (failed.empty() ? " did not get ready" : ": " + failed));
}

bool NativeSimEquipment::Configure(int port, const std::string& confText) {
    const std::string state = m_root + "/state";
    const unsigned seq = ++m_seq;
    if (!sim_state::WriteConf(state, port, confText, seq))
        return Fail("cannot write " + StateFile(port, ".conf"));
    std::optional<std::string> status;
    if (!WaitFor(Millis(2000),
                 [&] { return (status = sim_state::Acknowledged(state, port, seq)); }))
        return Fail("port " + std::to_string(port) + " configuration not acknowledged");
    if (*status != "ok")
        return Fail("port " + std::to_string(port) + " configuration rejected: " + *status);
    return true;
}

std::string NativeSimEquipment::Received(int port) const {
    return ReadWholeFile(StateFile(port, ".rx"));
}

bool NativeSimEquipment::WaitReceived(int port, size_t bytes, Millis timeout) const {
    return WaitFor(timeout, [&] {
        std::error_code error;
        const auto size = fs::file_size(StateFile(port, ".rx"), error);
        return !error && size >= bytes;
    });
}

std::string NativeSimEquipment::Events(int port) const {
    return ReadWholeFile(StateFile(port, ".events"));
}

bool NativeSimEquipment::WaitEvent(int port, const std::string& linePrefix, Millis timeout) const {
    return WaitFor(timeout, [&] { return sim_state::HasEventLine(Events(port), linePrefix); });
}

void NativeSimEquipment::ClearReceived(int port) {
    // Truncated in place: the program appends to the same files.
    for (const char* suffix : {".rx", ".events"})
        std::ofstream(StateFile(port, suffix), std::ios::binary | std::ios::trunc);
}

void NativeSimEquipment::Stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (!m_root.empty() && !std::getenv("ORVANE_SIM_KEEP_STATE")) {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    m_root.clear();
}
