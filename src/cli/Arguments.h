#pragma once
// The console program's command line: one command, its file, one way of naming units and the
// switches. Parsing only reads the words; whether the file or the units exist is found later.

#include "update/UnitConfirmation.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class Command { Help, List, Check, Update, Watch };

struct Arguments {
    Command command = Command::Help;
    bool json = false;                 // list --json
    std::string file;                  // check, update, watch
    std::optional<std::string> port;   // --port COMn (a device path on Linux)
    std::optional<std::string> serial; // --serial S
    bool all = false;                  // update --all
    bool allowDowngrade = false;       // update, watch --allow-downgrade
    bool yes = false;                  // update, watch --yes
    bool verify = false;               // update, watch --verify
    std::optional<std::string> record; // update, watch --record FILE.csv
    // How long --verify waits for the new version; tests shorten it (ORVANE_VERIFY_LIMIT_MS).
    std::uint32_t verifyLimitMs = kConfirmLimitMs;
};

// Reads the words after the program's name. false with a one-line reason on a usage error.
bool ParseArguments(const std::vector<std::string>& words, Arguments& arguments,
                    std::string& error);

// The text of --help, the exit codes included.
std::string UsageText();
