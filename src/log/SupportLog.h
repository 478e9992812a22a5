#pragma once
// The support log: a plain text file a user can send to support, one event a line, each line
// starting with the time in ISO 8601 (UTC). Each line is appended on its own, so the file is
// complete whenever the program stops. The file is rotated at 1 MiB, one older file kept
// beside it ("update.log.1"). Copies of the tool running at once share the log: each line is
// rotated and appended under a lock named after the log's path. A log that cannot be written is
// skipped: nothing here fails the caller.

#include <windows.h>

#include <string>

class SupportLog {
  public:
    static constexpr const char* kFileName = "update.log";
    static constexpr const char* kOlderFileName = "update.log.1";
    static constexpr DWORD kRotateBytes = 1024 * 1024;

    // The log in this folder, which is created when the first line is written.
    explicit SupportLog(std::string folder = DefaultFolder());

    // %LOCALAPPDATA%\Orvane\Update Utility, from the environment as the process has it; empty
    // (no log) when the variable is not set.
    static std::string DefaultFolder();

    const std::string& Folder() const { return m_folder; }
    std::string Path() const;

    // Appends one line with the current time. Control characters in the text (a device's texts,
    // a system message) are written escaped ("\r", "\n", "\t", "\x1B"), so that no text can
    // split a record or forge one. false when it could not be written.
    bool Write(const std::string& text) const;
    // Makes the folder and any missing parent; true when it exists.
    bool CreateFolder() const;

  private:
    // Moves a log that adding would take past the limit to the older file's name; a log that a
    // reader holds open without allowing that is copied there and emptied instead.
    void RotateIfFull(size_t adding) const;

    std::string m_folder;
};

// The system's reason for an error code: "error 5: Access is denied." (FormatMessageA, without
// the trailing line break); "" for ERROR_SUCCESS.
std::string SystemReason(DWORD error);

// A time in ISO 8601 with milliseconds, UTC: "2026-12-07T10:26:14.123Z".
std::string IsoTime(const SYSTEMTIME& utc);

// The file version from a program's or library's version resource ("6.7.6.2130"); "" when it
// has none.
std::string FileVersion(const std::string& path);
