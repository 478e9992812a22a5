#include "SimEquipment.h"

namespace {

constexpr DWORD kStartTimeoutMs = 10000;
constexpr DWORD kConfigureTimeoutMs = 2000;
constexpr DWORD kStopTimeoutMs = 5000;
constexpr DWORD kPollMs = 5;

// Wine's Z: drive is the Unix root.
std::string ToWindows(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string Quote(const std::string& arg) {
    return "\"" + arg + "\"";
}

std::string GetEnv(const char* name) {
    char value[4096];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return (n > 0 && n < sizeof value) ? std::string(value, n) : std::string();
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    text.clear();
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& dir) {
    // Names first, deletions after: deleting while enumerating can skip entries.
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA entry;
        HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = entry.cFileName;
                if (name != "." && name != "..")
                    names.push_back(name);
            } while (FindNextFileA(find, &entry));
            FindClose(find);
        }
        for (const std::string& name : names)
            DeleteFileA((dir + "\\" + name).c_str());
        if (RemoveDirectoryA(dir.c_str()))
            return;
        Sleep(kPollMs);
    }
}

// Polls until done() or the time is up; the client has no threads to wait with.
template <typename Done> bool WaitFor(DWORD timeoutMs, Done done) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

} // namespace

SimEquipment::~SimEquipment() {
    Stop();
}

std::string SimEquipment::StateFile(const char* name) const {
    return ToWindows(stateDir_ + "/" + name);
}

std::string SimEquipment::StateFile(int port, const char* suffix) const {
    // Not "com7.rx": Windows takes COMn with any extension for the device.
    return ToWindows(stateDir_ + "/port" + std::to_string(port) + suffix);
}

bool SimEquipment::Fail(const std::string& why) {
    error_ = why;
    return false;
}

bool SimEquipment::Start(const std::vector<int>& ports, int lifetimeSeconds) {
    if (running_)
        return Fail("already running");
    const std::string program = GetEnv("ORVANE_SIM_EQUIPMENT");
    if (program.empty())
        return Fail("ORVANE_SIM_EQUIPMENT is not set");
    std::string prefix = GetEnv("WINEPREFIX");
    if (prefix.empty())
        prefix = GetEnv("HOME") + "/.wine";
    std::string temp = GetEnv("TMPDIR");
    if (temp.empty())
        temp = "/tmp";

    stateDir_.clear();
    for (int attempt = 0; attempt < 100 && stateDir_.empty(); ++attempt) {
        const std::string dir = temp + "/orvane-sim-equipment." +
                                std::to_string(GetCurrentProcessId()) + "." +
                                std::to_string(GetTickCount()) + "." + std::to_string(attempt);
        if (CreateDirectoryA(ToWindows(dir).c_str(), nullptr))
            stateDir_ = dir;
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            return Fail("cannot create a folder in " + temp);
    }
    if (stateDir_.empty())
        return Fail("no free folder name in " + temp);

    // Wine starts a native program through a double fork, so the program
    // cannot watch us as its parent. It watches this file instead: when our
    // process ends, for whatever reason, the last handle on it closes.
    alive_ = CreateFileA(StateFile("alive").c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (alive_ == INVALID_HANDLE_VALUE)
        return Fail("cannot create " + stateDir_ + "/alive");

    std::string command = Quote(ToWindows(program)) + " --lifetime " +
                          std::to_string(lifetimeSeconds) + " --parent-pid 0 --watch-file " +
                          Quote(stateDir_ + "/alive") + " " + Quote(stateDir_) + " " +
                          Quote(prefix + "/dosdevices");
    for (int port : ports)
        command += " " + std::to_string(port);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        const DWORD code = GetLastError();
        Stop();
        return Fail("cannot start " + program + " (error " + std::to_string(code) + ")");
    }
    // For a Unix program Wine hands back no usable handles.
    if (process.hThread)
        CloseHandle(process.hThread);
    if (process.hProcess)
        CloseHandle(process.hProcess);
    running_ = true;

    std::string ready;
    std::string failed;
    const bool answered = WaitFor(kStartTimeoutMs, [&] {
        return (ReadWholeFile(StateFile("ready"), ready) && ready == "ok\n") ||
               ReadWholeFile(StateFile("failed"), failed) || Exists(StateFile("exited"));
    });
    if (answered && ready == "ok\n")
        return true;
    Stop();
    return Fail(!answered        ? program + " did not get ready"
                : failed.empty() ? program + " stopped"
                                 : program + ": " + failed);
}

bool SimEquipment::Configure(int port, const std::string& confText) {
    if (!running_)
        return Fail("not running");
    const std::string seq = std::to_string(++seq_);
    const std::string conf = StateFile(port, ".conf");
    // Written aside and renamed into place: the program never sees half a file.
    if (!WriteWholeFile(conf + ".tmp", confText + "\nseq=" + seq + "\n") ||
        !MoveFileExA((conf + ".tmp").c_str(), conf.c_str(), MOVEFILE_REPLACE_EXISTING))
        return Fail("cannot write " + conf);

    std::string applied;
    const std::string expected = "seq=" + seq + "\n";
    if (!WaitFor(kConfigureTimeoutMs, [&] {
            return ReadWholeFile(StateFile(port, ".applied"), applied) &&
                   applied.compare(0, expected.size(), expected) == 0;
        }))
        return Fail("COM" + std::to_string(port) + " configuration not acknowledged");
    const size_t status = applied.find("status=");
    if (status == std::string::npos || applied.compare(status, 10, "status=ok\n") != 0)
        return Fail("COM" + std::to_string(port) + " configuration rejected: " +
                    (status == std::string::npos ? applied : applied.substr(status + 7)));
    return true;
}

std::string SimEquipment::Received(int port) const {
    std::string data;
    ReadWholeFile(StateFile(port, ".rx"), data);
    return data;
}

bool SimEquipment::WaitReceived(int port, size_t bytes, DWORD timeoutMs) const {
    const std::string path = StateFile(port, ".rx");
    return WaitFor(timeoutMs, [&] {
        WIN32_FILE_ATTRIBUTE_DATA info;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info))
            return false;
        const ULONGLONG size =
            (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        return size >= bytes;
    });
}

std::string SimEquipment::Events(int port) const {
    std::string text;
    ReadWholeFile(StateFile(port, ".events"), text);
    return text;
}

bool SimEquipment::WaitEvent(int port, const std::string& linePrefix, DWORD timeoutMs) const {
    return WaitFor(timeoutMs, [&] {
        // Appended rather than concatenated: GCC 12 at -O3 warns wrongly about "\n" + string.
        std::string events(1, '\n');
        events += Events(port);
        std::string line(1, '\n');
        line += linePrefix;
        return events.find(line) != std::string::npos;
    });
}

int SimEquipment::CountEventLines(const std::string& events, const std::string& linePrefix) {
    int count = 0;
    for (size_t at = 0; at < events.size();) {
        if (events.compare(at, linePrefix.size(), linePrefix) == 0)
            ++count;
        const size_t end = events.find('\n', at);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return count;
}

void SimEquipment::ClearReceived(int port) {
    // Truncated in place: the program appends to the same files.
    for (const char* suffix : {".rx", ".events"}) {
        HANDLE file = CreateFileA(StateFile(port, suffix).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
}

void SimEquipment::Stop() {
    if (running_) {
        WriteWholeFile(StateFile("stop"), "");
        WaitFor(kStopTimeoutMs, [&] { return Exists(StateFile("exited")); });
    }
    if (alive_ != INVALID_HANDLE_VALUE) {
        CloseHandle(alive_);
        alive_ = INVALID_HANDLE_VALUE;
    }
    running_ = false;
    if (!stateDir_.empty() && GetEnv("ORVANE_SIM_KEEP_STATE").empty())
        RemoveTree(ToWindows(stateDir_));
}
