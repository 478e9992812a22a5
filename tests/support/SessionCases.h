#pragma once
// The guarded update against a simulated unit, for the Windows and the Linux suite alike: what
// it refuses, what the unit received then, and the words for it.

#include "update/UpdateSession.h"

#include <functional>
#include <ostream>
#include <string>

// What happens to the file between its check and the update.
enum class FileAfterCheck { Kept, Rewritten, Grown };

struct SessionCase {
    const char* name;
    const char* behaviour; // the unit's conf
    VersionReply checked;  // the unit's answer when it was checked
    // The serial the system shows on the port: nullptr when it shows none, else that serial
    // (the unit was checked as "ORV1").
    const char* serialShown;
    FileAfterCheck file;
    std::uint32_t fileLimit;
    SessionError expected;
    bool programmed;   // the unit received "pgm\r" and the file after its question
    bool asked;        // it received the question at least
    const char* words; // a part of the failure's words; "" for none
};

inline void PrintTo(const SessionCase& c, std::ostream* out) {
    *out << c.name;
}

extern const SessionCase kSessionCases[];
extern const size_t kSessionCaseCount;

// What the unit received, once it has received at least that many bytes or a moment has passed.
using ReceivedBytes = std::function<std::string(size_t atLeast)>;

// Checks the file at path as it is now, changes it as c.file says, runs the guarded update on
// port and compares the result, its words and what the unit received with the case.
void RunSessionCase(const SessionCase& c, const std::string& port, const std::string& path,
                    const ReceivedBytes& received);
