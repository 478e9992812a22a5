#pragma once

#include <string>
#include <vector>
#include <windows.h>

// Runs the simulated equipment (orvane-sim-equipment, a native Linux program)
// for a Windows test under Wine. The ports appear as COMn in the Wine prefix;
// the state folder under the Unix temp dir carries the behaviour set by
// Configure() and what the tool sent. See sim/equipment/README.md.
//
// Needs ORVANE_SIM_EQUIPMENT (the program's Unix path) and WINEPREFIX.
class SimEquipment {
  public:
    SimEquipment() = default;
    ~SimEquipment();
    SimEquipment(const SimEquipment&) = delete;
    SimEquipment& operator=(const SimEquipment&) = delete;

    // Starts the program for these COM port numbers and waits (at most 10 s)
    // until every link is in place.
    bool Start(const std::vector<int>& ports, int lifetimeSeconds = 900);

    // Replaces the port's behaviour ("mode=split\nreply=030C") and waits until
    // the program has applied it. False if it rejected the text or did not
    // answer within 2 s; Error() says which.
    bool Configure(int port, const std::string& confText);

    // Every byte the tool sent to the port so far.
    std::string Received(int port) const;
    // Bytes reach the record a moment after the tool's write completes.
    bool WaitReceived(int port, size_t bytes, DWORD timeoutMs = 5000) const;

    // One line per event: "open /dev/pts/N", "ver", "reply 0107", "pgm",
    // "close bytes=N firmware=M", "hangup bytes=N", "conf ...", "link ...".
    std::string Events(int port) const;
    bool WaitEvent(int port, const std::string& linePrefix, DWORD timeoutMs = 5000) const;
    // How many lines of an event record start with the prefix.
    static int CountEventLines(const std::string& events, const std::string& linePrefix);

    // Empties both the received bytes and the events of the port. Bytes the
    // tool wrote but the program has not read yet land after the clear: clear
    // once the tool is done, e.g. after WaitEvent(port, "close").
    void ClearReceived(int port);

    // Stops the program and waits (at most 5 s) until its links are gone.
    void Stop();

    bool Running() const { return running_; }
    const std::string& Error() const { return error_; }
    const std::string& StateDir() const { return stateDir_; } // Unix path

  private:
    std::string StateFile(int port, const char* suffix) const;
    std::string StateFile(const char* name) const;
    bool Fail(const std::string& why);

    std::string stateDir_;
    HANDLE alive_ = INVALID_HANDLE_VALUE;
    bool running_ = false;
    unsigned seq_ = 0;
    std::string error_;
};
