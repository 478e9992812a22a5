#pragma once
// The console program's command line: one command, its file, one way of naming units and the
// switches. Parsing only reads the words; whether the file or the units exist is found later.
// Long options take their value as "--port X" or "--port=X"; short ones as "-p X" or "-pX", and
// short switches may be grouped ("-ay").

#include "cli/Console.h"

#include "update/UnitConfirmation.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class Command { Help, Version, List, Check, Update, Watch, Doctor };

struct Arguments {
    Command command = Command::Help;
    Command helpFor = Command::Help;         // Help: the command whose help is asked for
    bool json = false;                       // --json
    std::string file;                        // check, update, watch
    std::optional<std::string> port;         // -p, --port COMn (a device path on Linux)
    std::optional<std::string> serial;       // -s, --serial S
    bool all = false;                        // -a, --all (update)
    bool allowDowngrade = false;             // update, watch --allow-downgrade
    bool yes = false;                        // -y, --yes (update, watch)
    bool verify = false;                     // update, watch --verify
    std::optional<std::string> record;       // update, watch --record FILE.csv
    Verbosity verbosity = Verbosity::Normal; // -q, -v
    // How long --verify waits for the new version; tests shorten it (ORVANE_VERIFY_LIMIT_MS).
    std::uint32_t verifyLimitMs = kConfirmLimitMs;

    // Whether the command line names the units (--port, --serial or --all).
    bool NamesUnits() const { return port || serial || all; }
};

// Reads the words after the program's name. false with a one-line reason on a usage error.
bool ParseArguments(const std::vector<std::string>& words, Arguments& arguments,
                    std::string& error);

// The text of --help (every command, the options and the exit codes), or of one command's help;
// no line is longer than 80 columns.
std::string UsageText(Command command = Command::Help);

// "orvane-update 1.2.3".
std::string VersionText();
