// The console program's command line: words from the input (split at NUL bytes). A line that
// parses is written again in one plain form (long options with "=", the file after "--"), which
// must parse to the same arguments; a line that does not gives a reason.

#include "FuzzCheck.h"
#include "cli/Arguments.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

const char* NameOf(Command command) {
    switch (command) {
    case Command::List:
        return "list";
    case Command::Check:
        return "check";
    case Command::Update:
        return "update";
    case Command::Watch:
        return "watch";
    case Command::Doctor:
        return "doctor";
    default:
        return nullptr;
    }
}

std::vector<std::string> PlainForm(const Arguments& arguments) {
    std::vector<std::string> words{NameOf(arguments.command)};
    const auto add = [&](bool on, const char* word) {
        if (on)
            words.push_back(word);
    };
    add(arguments.json, "--json");
    if (arguments.port)
        words.push_back("--port=" + *arguments.port);
    if (arguments.serial)
        words.push_back("--serial=" + *arguments.serial);
    add(arguments.all, "--all");
    add(arguments.allowDowngrade, "--allow-downgrade");
    add(arguments.yes, "--yes");
    add(arguments.verify, "--verify");
    if (arguments.record)
        words.push_back("--record=" + *arguments.record);
    add(arguments.verbosity == Verbosity::Quiet, "-q");
    add(arguments.verbosity == Verbosity::Verbose, "-v");
    if (!arguments.file.empty()) {
        words.push_back("--");
        words.push_back(arguments.file);
    }
    return words;
}

bool Same(const Arguments& a, const Arguments& b) {
    return a.command == b.command && a.helpFor == b.helpFor && a.json == b.json &&
           a.file == b.file && a.port == b.port && a.serial == b.serial && a.all == b.all &&
           a.allowDowngrade == b.allowDowngrade && a.yes == b.yes && a.verify == b.verify &&
           a.record == b.record && a.verbosity == b.verbosity;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() <= 12; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back() += static_cast<char>(data[i]);
    }
    if (size == 0)
        words.clear();

    Arguments arguments;
    std::string error;
    if (!ParseArguments(words, arguments, error)) {
        Require(!error.empty(), "a refused command line says why");
        return 0;
    }
    Require(error.empty(), "an accepted command line has no error");
    Require((arguments.port ? 1 : 0) + (arguments.serial ? 1 : 0) + (arguments.all ? 1 : 0) <= 1,
            "at most one way of naming units");
    if (arguments.command == Command::Help || arguments.command == Command::Version)
        return 0;
    const bool takesFile = arguments.command == Command::Check ||
                           arguments.command == Command::Update ||
                           arguments.command == Command::Watch;
    Require(takesFile == !arguments.file.empty(), "a command that takes a file has one");
    Require(!arguments.serial || !arguments.serial->empty(), "a serial is never empty");
    Require(!arguments.record || !arguments.record->empty(), "a record file is never empty");

    Arguments again;
    Require(ParseArguments(PlainForm(arguments), again, error), "the plain form parses", error);
    Require(Same(arguments, again), "the plain form parses to the same arguments");
    return 0;
}
