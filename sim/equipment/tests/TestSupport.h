#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simtest {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

struct Abort {};
void fail(const char* file, int line, const std::string& what);

#define CHECK(cond) ((cond) ? (void)0 : simtest::fail(__FILE__, __LINE__, #cond))
#define REQUIRE(cond)                                                                              \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            simtest::fail(__FILE__, __LINE__, #cond);                                              \
            throw simtest::Abort{};                                                                \
        }                                                                                          \
    } while (0)

struct TestCase {
    const char* group;
    const char* name;
    void (*run)();
};
std::vector<TestCase>& registry();
struct Register {
    Register(const char* group, const char* name, void (*run)()) {
        registry().push_back({group, name, run});
    }
};
#define SIM_TEST(group, name)                                                                      \
    static void group##_##name();                                                                  \
    static simtest::Register register_##group##_##name(#group, #name, group##_##name);             \
    static void group##_##name()

extern std::string g_binary;

bool waitUntil(const std::function<bool()>& done, Millis timeout);
std::optional<std::string> readFile(const std::string& path);
// Starts the program with these arguments (args[0] is its path); returns the child's pid.
pid_t spawn(std::vector<std::string> args);

// The program under test, in a scratch folder of its own.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<int>& ports,
                        const std::vector<std::string>& options = {});
    ~SimProcess();

    bool ready() const;
    pid_t pid() const { return pid_; }
    std::string stateFile(const std::string& name) const { return root_ + "/state/" + name; }
    std::string link(int port) const { return root_ + "/dosdevices/com" + std::to_string(port); }

    // Writes portN.conf with a fresh seq and returns the status the program acknowledged.
    std::string configure(int port, const std::string& text);
    std::string received(int port) const;
    bool waitReceived(int port, std::size_t size, Millis timeout = Millis(3000)) const;
    bool waitEvent(int port, const std::string& prefix, Millis timeout = Millis(3000)) const;
    std::optional<int> waitExit(Millis timeout); // exit status

  private:
    std::string root_;
    pid_t pid_ = -1;
    unsigned seq_ = 0;
};

// The tool's side of a port.
class Slave {
  public:
    explicit Slave(const std::string& path, bool nonBlocking = false);
    ~Slave() { close(); }
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool write(const std::string& data);
    // Up to size bytes, waiting at most timeout for them.
    std::string read(std::size_t size, Millis timeout);
    void close();

  private:
    int fd_ = -1;
};

std::string pattern(std::size_t size); // every byte value, "ver\r" included

} // namespace simtest
