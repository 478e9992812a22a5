#pragma once
// Runs the simulated equipment (orvane-sim-equipment) for a native Linux test: the units' ports
// are links in a folder of their own, each leading to the pty of the unit's next session. The
// same operations as SimEquipment, the client of the Windows tests. See ../README.md.
//
// Needs ORVANE_SIM_EQUIPMENT (the program's path) in the environment.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class NativeSimEquipment {
  public:
    using Millis = std::chrono::milliseconds;

    NativeSimEquipment() = default;
    ~NativeSimEquipment();
    NativeSimEquipment(const NativeSimEquipment&) = delete;
    NativeSimEquipment& operator=(const NativeSimEquipment&) = delete;

    // Starts the program for these port numbers and waits (at most 10 s) until every link is in
    // place.
    bool Start(const std::vector<int>& ports);
    // The path the tool opens for the port: a link to the pty of its next session.
    std::string Port(int port) const;

    // Replaces the port's behaviour ("mode=split\nreply=030C") and waits until the program has
    // applied it; false when it rejected it or did not answer within 2 s (Error() says which).
    bool Configure(int port, const std::string& confText);
    std::string Received(int port) const;
    bool WaitReceived(int port, size_t bytes, Millis timeout = Millis(5000)) const;
    std::string Events(int port) const;
    bool WaitEvent(int port, const std::string& linePrefix, Millis timeout = Millis(5000)) const;
    // Empties the received bytes and the events of the port.
    void ClearReceived(int port);
    // Stops the program and removes its folder.
    void Stop();

    const std::string& Error() const { return m_error; }

  private:
    std::string StateFile(int port, const char* suffix) const;
    bool Fail(const std::string& why);

    std::string m_root;
    pid_t m_pid = -1;
    unsigned m_seq = 0;
    std::string m_error;
};
