#pragma once
// watch FILE: the service bench. Every unit attached at the start and every unit plugged in
// later is asked for its version, judged against the file and, when the file is meant for it,
// updated at once on a thread of its own, until Ctrl+C. Returns the program's exit code.

#include "cli/Arguments.h"
#include "cli/Console.h"

int RunWatch(const Arguments& arguments, Console& console);
