#pragma once
// Limits of the serial line that are not the equipment protocol's own.

#include <windows.h>

// How long one write (the program command or one chunk) may wait for the equipment to take
// it. Generous, since equipment holds CTS off while it erases its flash; a unit that never
// takes the data fails the update instead of stopping the tool.
constexpr DWORD kWriteStallLimitMs = 30000;

// The limit in force; tests shorten it to stay quick.
extern DWORD g_writeStallLimitMs;

// A read pass that returns at once with no byte waits this long before the next pass, so
// that an empty pass neither spins the processor nor ends the read early.
constexpr DWORD kEmptyReadPauseMs = 10;
