// orvane-update: the console face of the engine, for service benches and scripts.
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Watch.h"

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    Console console;
    Console::CatchCancel();
    const std::vector<std::string> words(argv + 1, argv + argc);
    Arguments arguments;
    std::string error;
    if (!ParseArguments(words, arguments, error)) {
        console.Error(error + " (orvane-update --help shows the usage)");
        return kExitUsage;
    }
    console.SetVerbosity(arguments.verbosity);
    console.SetJson(arguments.json);
    if (const char* limit = std::getenv("ORVANE_VERIFY_LIMIT_MS"); limit && *limit)
        arguments.verifyLimitMs = static_cast<std::uint32_t>(std::strtoul(limit, nullptr, 10));
    switch (arguments.command) {
    case Command::List:
        return RunList(arguments, console);
    case Command::Check:
        return RunCheck(arguments, console);
    case Command::Update:
        return RunUpdate(arguments, console);
    case Command::Watch:
        return RunWatch(arguments, console);
    case Command::Doctor:
        return RunDoctor(arguments, console);
    case Command::Version:
        console.Result(VersionText());
        return kExitDone;
    case Command::Help:
        break;
    }
    console.Result(UsageText(arguments.helpFor));
    return kExitDone;
}
