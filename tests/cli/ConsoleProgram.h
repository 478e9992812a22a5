#pragma once
// orvane-update.exe run as a child process: its standard output and error go to files of the
// test, its input comes from NUL (not a terminal), and it can be given Ctrl+C through the
// console it shares with the test.

#include "support/TempFile.h"

#include <windows.h>

#include <string>

class ConsoleProgram {
  public:
    ConsoleProgram() = default;
    ~ConsoleProgram();
    ConsoleProgram(const ConsoleProgram&) = delete;
    ConsoleProgram& operator=(const ConsoleProgram&) = delete;

    // Starts "orvane-update <arguments>", by default the one beside this test program. With
    // ownGroup the child gets a process group of its own, for Interrupt.
    bool Start(const std::string& arguments, bool ownGroup = false,
               const std::string& exe = BesideTests());
    // Waits for the end; false when it did not end in time (it is then ended).
    bool Finish(DWORD timeoutMs = 60000);
    DWORD ExitCode() const { return m_exitCode; }
    std::string Output() const { return ReadWholeFile(m_output.Path()); }
    std::string Errors() const { return ReadWholeFile(m_errors.Path()); }
    // Ctrl+C to the child's process group, as a terminal sends it, through the console it shares
    // with this process. (Wine carries Ctrl+C only, not Ctrl+Break.)
    bool Interrupt() const;

    static std::string BesideTests();

  private:
    TempFile m_output{"", ".out"};
    TempFile m_errors{"", ".err"};
    PROCESS_INFORMATION m_child{};
    DWORD m_exitCode = STILL_ACTIVE;
};

// Runs to the end and gives the exit code; output and errors stay readable on the object.
DWORD RunConsole(ConsoleProgram& program, const std::string& arguments);
