#pragma once
// The console program's terminal: lines to standard output and error from any thread, progress
// lines redrawn in place when the output is a terminal, the confirmation question, and the
// cancel keys.
//
// Every line is written with its control characters escaped (TerminalText), so that a device's
// product or serial text can neither move the cursor nor forge a line; a text of several lines
// is written line by line. --json lines are JSON already and carry no control character.
//
// Ctrl+C (and Ctrl+Break on Windows; SIGINT, SIGTERM and SIGHUP elsewhere) only raise the
// cancel flag. The transfers see the flag within one wait slice of the serial line and end as a
// cancel does: the pending write is cancelled, the line's settings are put back, the port
// closes. On Windows a console closed, a logoff or a shutdown raise it too, and hold the end of
// the process until the transfers have ended (at most kEndingGraceMs). Each system's file
// (ConsoleWin.cpp, ConsolePosix.cpp) holds the calls.

#include "cli/Sync.h"
#include "device/SerialLine.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// -q: errors and the final result only; -v: also each command sent and reply received.
enum class Verbosity { Quiet, Normal, Verbose };

class Console {
  public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Set before anything is written. Under --json standard output carries the JSON events
    // alone: Print and Result write nothing there.
    void SetVerbosity(Verbosity verbosity) { m_verbosity = verbosity; }
    void SetJson(bool json) { m_json = json; }
    bool Verbose() const { return m_verbosity == Verbosity::Verbose; }
    bool Json() const { return m_json; }

    // Whether standard input is a terminal a person can answer on (never under --json).
    bool InputIsTerminal() const;
    // Whether progress is redrawn in place: the output is a terminal (not TERM=dumb), and
    // neither -q nor --json is given.
    bool ProgressInPlace() const;
    // Whether progress goes out as a line at every tenth instead: redirected, or TERM=dumb.
    bool ProgressAsLines() const;

    // What the command is doing (hidden by -q and --json); a command's result (hidden by
    // --json); an error (always, on standard error); a line of the -v trace (standard error).
    // Progress lines shown are cleared first.
    void Print(const std::string& text);
    void Result(const std::string& text);
    void Error(const std::string& text);
    void Trace(const std::string& text);
    // Follows every line's bytes for the -v trace: "/dev/ttyUSB0 > ver\r (76 65 72 0d)", "<
    // 01 05"; nullptr without -v.
    LineProbe* LineTrace() { return Verbose() ? &m_tracer : nullptr; }
    // One JSON object on a line of standard output, under --json only.
    void JsonLine(const std::string& object);

    // Redraws the progress lines in place (one per unit), each cut to the terminal's width so
    // that none wraps; with no cursor movement at hand, only the last line is shown.
    void ShowProgress(const std::vector<std::string>& lines);
    // Leaves the progress lines shown on the screen; the next line goes below them.
    void EndProgress();
    // The terminal's width in columns (80 when it cannot be told).
    unsigned Columns() const;

    // Asks the question on standard error, which a person sees also when the output goes to a
    // file or a pipe; true only for an answer of y or yes.
    bool Confirm(const std::string& question);

    // The local date and time to the second, "2026-12-07 14:03:27", for lines that say when
    // something happened.
    static std::string LocalTime();

    // The cancel keys raise the cancel flag instead of ending the process.
    static void CatchCancel();
    static bool CancelRequested();
    // Whether transfers run, whose lines must be put back before the process may end.
    static void TransfersRunning(bool running);

  private:
    enum class Stream { Output, Errors };
    void WriteLines(Stream stream, const std::string& prefix, const std::string& text);
    // The system's calls: text written as it is, one byte of standard input, the terminal's
    // width (0 when unknown).
    void Write(Stream stream, const std::string& text);
    bool ReadInput(char& byte);
    unsigned SystemColumns() const;
    void ClearProgressLocked();

    class Tracer : public LineProbe {
      public:
        explicit Tracer(Console& console) : m_console(console) {}
        void Step(LineStep) override {}
        void Carried(const std::string& port, bool sent, const std::uint8_t* bytes,
                     std::uint32_t count) override;

      private:
        Console& m_console;
    };

    struct Native;
    std::unique_ptr<Native> m_native;
    Tracer m_tracer{*this};
    Lock m_lock;
    bool m_outputIsTerminal = false; // and TERM is not "dumb"
    bool m_cursorMoves = false;      // the terminal takes "ESC [ n A" and "ESC [ K"
    Verbosity m_verbosity = Verbosity::Normal;
    bool m_json = false;
    size_t m_progressLines = 0; // progress lines shown; 0: none
    size_t m_progressWidth = 0; // characters of the last one shown
    std::uint64_t m_startMs = 0;
};

// How long the end of the process is held for the transfers to end: within the 5 s Windows
// gives a console program before it ends it.
constexpr std::uint32_t kEndingGraceMs = 4000;

// The end of a line on this system's terminal.
extern const char* const kLineEnd;

// A line cut to at most columns characters (UTF-8 characters count as one).
std::string FitToColumns(const std::string& line, size_t columns);
// The number of characters of a UTF-8 line.
size_t ColumnsOf(const std::string& line);
