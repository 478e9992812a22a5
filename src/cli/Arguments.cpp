#include "cli/Arguments.h"

#include "cli/PortArgument.h"

#include <algorithm>

namespace {

struct CommandName {
    const char* name;
    Command command;
};
constexpr CommandName kCommands[] = {{"list", Command::List},
                                     {"check", Command::Check},
                                     {"update", Command::Update},
                                     {"watch", Command::Watch},
                                     {"doctor", Command::Doctor}};

// Which commands take an option.
enum Takes : unsigned {
    kList = 1u << static_cast<unsigned>(Command::List),
    kCheck = 1u << static_cast<unsigned>(Command::Check),
    kUpdate = 1u << static_cast<unsigned>(Command::Update),
    kWatch = 1u << static_cast<unsigned>(Command::Watch),
    kDoctor = 1u << static_cast<unsigned>(Command::Doctor),
    kEvery = kList | kCheck | kUpdate | kWatch | kDoctor,
};

enum class OptionId {
    Help,
    Json,
    Port,
    Serial,
    All,
    AllowDowngrade,
    Yes,
    Verify,
    Record,
    Quiet,
    Verbose
};

struct Option {
    OptionId id;
    const char* name; // without the dashes
    char letter;      // 0: no short form
    bool takesValue;
    unsigned commands;
};
constexpr Option kOptions[] = {
    {OptionId::Help, "help", 'h', false, kEvery},
    {OptionId::Json, "json", 0, false, kList | kCheck | kUpdate | kWatch | kDoctor},
    {OptionId::Port, "port", 'p', true, kCheck | kUpdate},
    {OptionId::Serial, "serial", 's', true, kCheck | kUpdate},
    {OptionId::All, "all", 'a', false, kUpdate},
    {OptionId::AllowDowngrade, "allow-downgrade", 0, false, kUpdate | kWatch},
    {OptionId::Yes, "yes", 'y', false, kUpdate | kWatch},
    {OptionId::Verify, "verify", 0, false, kUpdate | kWatch},
    {OptionId::Record, "record", 0, true, kUpdate | kWatch},
    {OptionId::Quiet, "quiet", 'q', false, kEvery},
    {OptionId::Verbose, "verbose", 'v', false, kEvery},
};

std::optional<Command> CommandNamed(const std::string& word) {
    for (const CommandName& entry : kCommands)
        if (word == entry.name)
            return entry.command;
    return std::nullopt;
}

// Applies one option; false with the reason when its value is not one.
bool Apply(const Option& option, const std::string& value, Arguments& arguments,
           std::string& error) {
    switch (option.id) {
    case OptionId::Help:
        arguments.helpFor = arguments.command;
        break;
    case OptionId::Json:
        arguments.json = true;
        break;
    case OptionId::Port:
        arguments.port = PortArgument(value);
        if (!arguments.port) {
            error = "\"" + value + "\" " + kPortNameRule;
            return false;
        }
        break;
    case OptionId::Serial:
        if (value.empty()) {
            error = "--serial needs the unit's serial number";
            return false;
        }
        arguments.serial = value;
        break;
    case OptionId::All:
        arguments.all = true;
        break;
    case OptionId::AllowDowngrade:
        arguments.allowDowngrade = true;
        break;
    case OptionId::Yes:
        arguments.yes = true;
        break;
    case OptionId::Verify:
        arguments.verify = true;
        break;
    case OptionId::Record:
        if (value.empty()) {
            error = "--record needs the file to record in, such as bench.csv";
            return false;
        }
        arguments.record = value;
        break;
    case OptionId::Quiet:
    case OptionId::Verbose: {
        const Verbosity asked =
            option.id == OptionId::Quiet ? Verbosity::Quiet : Verbosity::Verbose;
        if (arguments.verbosity != Verbosity::Normal && arguments.verbosity != asked) {
            error = "use only one of -q and -v";
            return false;
        }
        arguments.verbosity = asked;
        break;
    }
    }
    return true;
}

// What an option needs when its value is missing.
std::string MissingValue(const Option& option) {
    switch (option.id) {
    case OptionId::Port:
        return std::string("--port needs a port name, such as ") + kPortExample;
    case OptionId::Serial:
        return "--serial needs the unit's serial number";
    default:
        return "--record needs the file to record in, such as bench.csv";
    }
}

} // namespace

bool ParseArguments(const std::vector<std::string>& words, Arguments& arguments,
                    std::string& error) {
    arguments = {};
    if (words.empty()) {
        error = "no command given (list, check, update, watch or doctor; --help shows how to use "
                "them)";
        return false;
    }
    const std::string& first = words[0];
    if (first == "--help" || first == "-h" || first == "help" || first == "/?") {
        arguments.command = Command::Help;
        if (words.size() > 1)
            if (const std::optional<Command> named = CommandNamed(words[1]))
                arguments.helpFor = *named;
        return true;
    }
    if (first == "--version" || first == "-V") {
        arguments.command = Command::Version;
        return true;
    }
    const std::optional<Command> command = CommandNamed(first);
    if (!command) {
        error = "unknown command \"" + first + "\" (list, check, update, watch or doctor)";
        return false;
    }
    arguments.command = *command;
    const unsigned bit = 1u << static_cast<unsigned>(*command);
    const bool takesFile =
        *command == Command::Check || *command == Command::Update || *command == Command::Watch;

    const auto find = [&](const std::string& name, char letter) -> const Option* {
        for (const Option& option : kOptions)
            if ((letter ? option.letter == letter : name == option.name) && (option.commands & bit))
                return &option;
        return nullptr;
    };
    const auto unknown = [&](const std::string& word) {
        error = "unknown option \"" + word + "\" for " + first;
        return false;
    };
    bool optionsEnd = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsEnd && word == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && word.rfind("--", 0) == 0) {
            const size_t equals = word.find('=');
            const std::string name =
                word.substr(2, equals == std::string::npos ? equals : equals - 2);
            const Option* option = find(name, 0);
            if (!option)
                return unknown(word.substr(0, equals));
            std::string value;
            if (equals != std::string::npos) {
                if (!option->takesValue) {
                    error = "--" + name + " takes no value";
                    return false;
                }
                value = word.substr(equals + 1);
            } else if (option->takesValue) {
                if (i + 1 == words.size()) {
                    error = MissingValue(*option);
                    return false;
                }
                value = words[++i];
            }
            if (!Apply(*option, value, arguments, error))
                return false;
        } else if (!optionsEnd && word.size() > 1 && word[0] == '-') {
            // Short switches, grouped or not; one that takes a value takes the rest of the
            // word, or the next word.
            for (size_t at = 1; at < word.size(); ++at) {
                const Option* option = find("", word[at]);
                if (!option)
                    return unknown("-" + std::string(1, word[at]));
                std::string value;
                if (option->takesValue) {
                    if (at + 1 < word.size()) {
                        value = word.substr(at + 1);
                    } else if (i + 1 < words.size()) {
                        value = words[++i];
                    } else {
                        error = MissingValue(*option);
                        return false;
                    }
                    at = word.size();
                }
                if (!Apply(*option, value, arguments, error))
                    return false;
            }
        } else if (takesFile && arguments.file.empty()) {
            arguments.file = word;
        } else {
            error = "unexpected argument \"" + word + "\"";
            return false;
        }
        if ((arguments.port ? 1 : 0) + (arguments.serial ? 1 : 0) + (arguments.all ? 1 : 0) > 1) {
            error = "name one unit or all of them: use only one of --port, --serial and --all";
            return false;
        }
    }
    if (arguments.helpFor != Command::Help) {
        arguments.command = Command::Help;
        return true;
    }
    if (takesFile && arguments.file.empty()) {
        error = first + " needs a firmware file";
        return false;
    }
    return true;
}

namespace {

std::string Synopsis(Command command) {
    const std::string port = kPortPlaceholder;
    switch (command) {
    case Command::List:
        return "  orvane-update list [--json] [-q | -v]\n";
    case Command::Check:
        return "  orvane-update check FILE|FOLDER [-p " + port + " | -s S] [--json] [-q | -v]\n";
    case Command::Update:
        return "  orvane-update update FILE|FOLDER [-p " + port +
               " | -s S | -a] [-y] [--verify]\n"
               "                [--allow-downgrade] [--record FILE.csv] [--json] [-q | -v]\n";
    case Command::Watch:
        return "  orvane-update watch FILE|FOLDER [-y] [--verify] [--allow-downgrade]\n"
               "                [--record FILE.csv] [--json] [-q | -v]\n";
    case Command::Doctor:
        return "  orvane-update doctor [--json]\n";
    default:
        return "  orvane-update --help | -h [COMMAND]    orvane-update --version | -V\n";
    }
}

std::string Description(Command command) {
    switch (command) {
    case Command::List: {
        // The sources go on a line of their own where they would pass 80 columns.
        const std::string found = "      installed firmware, and where the bridge was found:";
        const std::string sources = std::string(kBridgeSourcesHelp) + ".\n";
        return std::string("      Lists the attached units: ") + kPortKind +
               ", product, serial, model,\n" + found +
               (found.size() + 1 + sources.size() - 1 > 80 ? "\n      " : " ") + sources +
               "      A bridge that does not answer and whose product string does not name\n"
               "      Orvane is listed as another device, and no command counts it.\n";
    }
    case Command::Check:
        return "      Checks the firmware file against every unit, or the one named. From a\n"
               "      folder (its .ace files), each unit is checked against the newest file\n"
               "      meant for its model.\n";
    case Command::Update:
        return "      Checks the file, then sends it to the unit named, to the one unit\n"
               "      connected when none is named, or with -a to every unit it is meant\n"
               "      for, all at once. Without -y it asks first (on standard error), and\n"
               "      refuses to start when no one can answer (standard input is not a\n"
               "      terminal, or --json). Ctrl+C stops the update; the unit may then need\n"
               "      the update again.\n";
    case Command::Watch:
        return "      Watches for units until Ctrl+C: every unit attached at the start or\n"
               "      plugged in later is checked and, when the file is meant for it, updated\n"
               "      at once on its own port; a unit is handled once per plug-in. One line\n"
               "      per event, with its time: found, refused, updating, updated, failed,\n"
               "      unplugged. Ctrl+C stops the running updates and prints the totals.\n";
    case Command::Doctor:
        return "      Checks why a unit is or is not found, one check per line with what to\n"
               "      do when it fails. Exits 0 when at least one unit can be updated.\n";
    default:
        return "";
    }
}

std::string OptionsText(Command command) {
    const std::string port = kPortPlaceholder;
    std::string text = "Options:\n";
    if (command == Command::Check || command == Command::Update || command == Command::Help)
        text += "  -p, --port PORT       the unit on this port (" + port +
                ")\n"
                "  -s, --serial S        the unit with this bridge serial\n";
    if (command == Command::Update || command == Command::Help)
        text += "  -a, --all             every unit the file is meant for (update)\n";
    if (command == Command::Update || command == Command::Watch || command == Command::Help)
        text += "  -y, --yes             do not ask before sending\n"
                "      --verify          after the last byte, ask the unit for its version\n"
                "                        until it answers the file's (60 s at most)\n"
                "      --allow-downgrade also send an older or the same version (never\n"
                "                        another model's file)\n"
                "      --record FILE.csv append one row per unit to a CSV file\n";
    if (command != Command::Doctor)
        text += "      --json            JSON on standard output: list, an array; check,\n"
                "                        update and watch, one object per line and event\n"
                "  -q, --quiet           errors and the final result only\n"
                "  -v, --verbose         also each command sent and reply received, timed\n";
    else
        text += "      --json            one JSON object per check\n";
    return text + "  -h, --help            this help; options take --name=value too\n";
}

} // namespace

std::string UsageText(Command command) {
    if (command != Command::Help && command != Command::Version)
        return "Usage:\n" + Synopsis(command) + Description(command) + "\n" + OptionsText(command) +
               "\norvane-update --help also lists the exit codes.";
    std::string text = "Usage:\n";
    for (const CommandName& entry : kCommands)
        text += Synopsis(entry.command) + Description(entry.command);
    text += Synopsis(Command::Help) + "\n" + OptionsText(Command::Help) +
            "\n"
            "Exit codes:\n"
            "  0    done (doctor: a unit can be updated)\n"
            "  1    usage: a bad command line, a firmware file that cannot be opened, a\n"
            "       port or serial that two units report, no -y without a terminal or\n"
            "       with --json, or a --record file that cannot be written\n"
            "  2    no unit: " +
            kNoUnitCauses +
            "\n"
            "  3    refused by the check (under -a: a model the folder is ambiguous for)\n"
            "  4    transfer failed (for any unit under -a), the unit on the port was not\n"
            "       the one checked, the file changed after its check, or a unit could\n"
            "       not be asked\n"
            "  5    sent, but --verify did not see the new version (for any unit)\n"
            "  6    all else done, but a row of --record could not be written\n"
            "  130  cancelled (Ctrl+C, or the question answered no; watch: Ctrl+C during a\n"
            "       transfer)";
    return text;
}

std::string VersionText() {
    return std::string("orvane-update ") + ORVANE_PROGRAM_VERSION;
}
