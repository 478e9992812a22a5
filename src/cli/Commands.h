#pragma once
// The console program's commands over the engine. Each returns the program's exit code.

#include "cli/Arguments.h"
#include "cli/Console.h"

enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 1,       // a bad command line, or a firmware file that cannot be opened
    kExitNoUnit = 2,      // no unit, no unit by that name, or no bridge library
    kExitRefused = 3,     // refused by the check
    kExitFailed = 4,      // a transfer failed
    kExitUnconfirmed = 5, // sent, but --verify did not see the new version
    kExitNotRecorded = 6, // a row of --record could not be written
    kExitCancelled = 130, // Ctrl+C, or the question answered no
};

int RunList(const Arguments& arguments, Console& console);
int RunCheck(const Arguments& arguments, Console& console);
int RunUpdate(const Arguments& arguments, Console& console);
// Why units are or are not found (Doctor.cpp): exits 0 when at least one can be updated.
int RunDoctor(const Arguments& arguments, Console& console);
