#include "cli/Arguments.h"

#include "cli/PortArgument.h"

bool ParseArguments(const std::vector<std::string>& words, Arguments& arguments,
                    std::string& error) {
    arguments = {};
    if (words.empty()) {
        error = "no command given (list, check, update or watch; --help shows how to use them)";
        return false;
    }
    const std::string& command = words[0];
    if (command == "--help" || command == "-h" || command == "help" || command == "/?") {
        arguments.command = Command::Help;
        return true;
    }
    if (command == "list")
        arguments.command = Command::List;
    else if (command == "check")
        arguments.command = Command::Check;
    else if (command == "update")
        arguments.command = Command::Update;
    else if (command == "watch")
        arguments.command = Command::Watch;
    else {
        error = "unknown command \"" + command + "\" (list, check, update or watch)";
        return false;
    }

    const bool names = arguments.command == Command::Check || arguments.command == Command::Update;
    const bool sends = arguments.command == Command::Update || arguments.command == Command::Watch;
    int selectors = 0;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool hasValue = i + 1 < words.size();
        if (word == "--help" || word == "-h") {
            arguments = {};
            return true;
        }
        if (word == "--json" && arguments.command == Command::List) {
            arguments.json = true;
        } else if (word == "--port" && names) {
            if (!hasValue) {
                error = std::string("--port needs a port name, such as ") + kPortExample;
                return false;
            }
            arguments.port = PortArgument(words[++i]);
            if (!arguments.port) {
                error = "\"" + words[i] + "\" " + kPortNameRule;
                return false;
            }
            ++selectors;
        } else if (word == "--serial" && names) {
            if (!hasValue || words[i + 1].empty()) {
                error = "--serial needs the unit's serial number";
                return false;
            }
            arguments.serial = words[++i];
            ++selectors;
        } else if (word == "--all" && arguments.command == Command::Update) {
            arguments.all = true;
            ++selectors;
        } else if (word == "--allow-downgrade" && sends) {
            arguments.allowDowngrade = true;
        } else if (word == "--yes" && sends) {
            arguments.yes = true;
        } else if (word == "--verify" && sends) {
            arguments.verify = true;
        } else if (word == "--record" && sends) {
            if (!hasValue || words[i + 1].empty()) {
                error = "--record needs the file to record in, such as bench.csv";
                return false;
            }
            arguments.record = words[++i];
        } else if (word.size() > 1 && word[0] == '-') {
            error = "unknown option \"" + word + "\" for " + command;
            return false;
        } else if (arguments.command != Command::List && arguments.file.empty()) {
            arguments.file = word;
        } else {
            error = "unexpected argument \"" + word + "\"";
            return false;
        }
        if (selectors > 1) {
            error = "name one unit or all of them: use only one of --port, --serial and --all";
            return false;
        }
    }
    if (arguments.command != Command::List && arguments.file.empty()) {
        error = command + " needs a firmware file";
        return false;
    }
    if (arguments.command == Command::Update && selectors == 0) {
        error = std::string("update needs the unit to update: --port ") + kPortPlaceholder +
                ", --serial S or --all";
        return false;
    }
    return true;
}

std::string UsageText() {
    const std::string port = kPortPlaceholder;
    return "Usage:\n"
           "  orvane-update list [--json]\n"
           "      Lists the attached units: " +
           std::string(kPortKind) +
           ", product, serial, model, installed firmware,\n"
           "      and whether the bridge was found through the bridge library or the "
           "system's device list.\n"
           "  orvane-update check FILE|FOLDER [--port " +
           port +
           " | --serial S]\n"
           "      Checks the firmware file against every unit, or the one named. From a folder "
           "(its .ace\n"
           "      files), each unit is checked against the newest file meant for its model.\n"
           "  orvane-update update FILE|FOLDER (--port " +
           port +
           " | --serial S | --all)\n"
           "                       [--allow-downgrade] [--yes] [--verify] [--record FILE.csv]\n"
           "      Checks the file, then sends it to the unit named, or with --all to every "
           "unit it is\n"
           "      meant for, all at once. --allow-downgrade also sends an older or the same "
           "version\n"
           "      (never another model's file). Without --yes it asks first (on standard error), "
           "and\n"
           "      refuses to start when no one can answer (standard input is not a terminal).\n"
           "      --verify asks each unit for its version after the last byte until it "
           "answers with\n"
           "      the file's version (60 s at most). --record appends one row per unit to a "
           "CSV file.\n"
           "      Ctrl+C stops the update; the unit may then need the update again.\n"
           "  orvane-update watch FILE|FOLDER [--allow-downgrade] [--yes] [--verify]\n"
           "                       [--record FILE.csv]\n"
           "      Watches for units until Ctrl+C: every unit attached at the start or plugged in "
           "later is\n"
           "      checked and, when the file is meant for it, updated at once, each on its own "
           "port. A unit\n"
           "      is handled once per plug-in. One line per event, with its time: found, "
           "refused,\n"
           "      updating, updated, failed, unplugged. Ctrl+C stops the running updates and "
           "prints the\n"
           "      totals. The options as for update.\n"
           "\n"
           "Exit codes:\n"
           "  0    done\n"
           "  1    usage: a bad command line, a firmware file that cannot be opened, or a\n"
           "       --record file that cannot be written\n"
           "  2    no unit: no equipment, no unit on that port or with that serial, or no "
           "bridge library\n"
           "  3    refused by the check (under --all: a model the folder is ambiguous for)\n"
           "  4    transfer failed (for any unit under --all), the unit on the port was not the\n"
           "       one checked, the file changed after its check, or a unit could not be asked\n"
           "  5    sent, but --verify did not see the new version (for any unit)\n"
           "  6    a row of --record could not be written\n"
           "  130  cancelled (Ctrl+C, or the question answered no; watch: Ctrl+C during a "
           "transfer)";
}
