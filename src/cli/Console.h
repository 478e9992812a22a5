#pragma once
// The console program's terminal: lines to standard output and error from any thread, one
// progress line rewritten in place when the output is a terminal, the confirmation question,
// and the cancel keys.
//
// Ctrl+C (and Ctrl+Break on Windows; SIGINT, SIGTERM and SIGHUP elsewhere) only raise the
// cancel flag. The transfers see the flag within one wait slice of the serial line and end as a
// cancel does: the pending write is cancelled, the line's settings are put back, the port
// closes. On Windows a console closed, a logoff or a shutdown raise it too, and hold the end of
// the process until the transfers have ended (at most kEndingGraceMs). Each system's file
// (ConsoleWin.cpp, ConsolePosix.cpp) holds the calls.

#include "cli/Sync.h"

#include <cstdint>
#include <memory>
#include <string>

class Console {
  public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Whether standard output is a terminal (else a file or a pipe), and standard input.
    bool OutputIsTerminal() const { return m_outputIsTerminal; }
    bool InputIsTerminal() const;

    // One line to standard output or standard error; a progress line shown is cleared first.
    void Print(const std::string& line);
    void Error(const std::string& line);
    // Rewrites the progress line in place (terminals only).
    void ShowProgress(const std::string& line);
    void EndProgress();

    // Asks the question on standard error, which a person sees also when the output goes to a
    // file or a pipe; true only for an answer of y or yes.
    bool Confirm(const std::string& question);

    // The cancel keys raise the cancel flag instead of ending the process.
    static void CatchCancel();
    static bool CancelRequested();
    // Whether transfers run, whose lines must be put back before the process may end.
    static void TransfersRunning(bool running);

  private:
    enum class Stream { Output, Errors };
    // The system's calls: text written as it is, one byte of standard input.
    void Write(Stream stream, const std::string& text);
    bool ReadInput(char& byte);
    void ClearProgressLocked();

    struct Native;
    std::unique_ptr<Native> m_native;
    Lock m_lock;
    bool m_outputIsTerminal = false;
    size_t m_progressWidth = 0; // characters of the progress line shown; 0: none shown
};

// How long the end of the process is held for the transfers to end: within the 5 s Windows
// gives a console program before it ends it.
constexpr std::uint32_t kEndingGraceMs = 4000;

// The end of a line on this system's terminal.
extern const char* const kLineEnd;
