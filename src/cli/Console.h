#pragma once
// The console program's terminal: lines to standard output and error from any thread, one
// progress line rewritten in place when the output is a terminal, the confirmation question,
// and Ctrl+C.
//
// Ctrl+C and Ctrl+Break run a handler on a thread of the system's; it only raises the cancel
// flag. The transfers see the flag within one wait slice of the serial line and end as a
// cancel does: the pending write is cancelled, the line's settings are put back, the port closes.

#include <windows.h>

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

    // Asks the question on the terminal; true only for an answer of y or yes.
    bool Confirm(const std::string& question);

    // Ctrl+C and Ctrl+Break raise the cancel flag instead of ending the process.
    static void CatchCancel();
    static bool CancelRequested();

  private:
    void Write(HANDLE stream, const std::string& text);
    void ClearProgressLocked();

    CRITICAL_SECTION m_lock;
    HANDLE m_output;
    HANDLE m_errors;
    bool m_outputIsTerminal;
    size_t m_progressWidth = 0; // characters of the progress line shown; 0: none shown
};

// The system's text for an error code, without its line end, and the code.
std::string SystemErrorText(DWORD error);
