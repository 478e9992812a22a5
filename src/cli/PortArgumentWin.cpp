#include "cli/PortArgument.h"

#include <cctype>

const char* const kPortKind = "COM port";
const char* const kPortPlaceholder = "COMn";
const char* const kPortExample = "COM5";
const char* const kPortNameRule = "is not a COM port name (COM1 to COM255)";
const char* const kSystemListSource = "device list";
const char* const kBridgeSourcesHelp = "the bridge library or the device list";
const char* const kNoUnitCauses = "no equipment, no unit on that port or with that serial, or no\n"
                                  "       bridge library (missing, or of the other bitness)";

// "COM5" (any case) as "COM5"; the window's port travels as one byte, so 1 to 255.
std::optional<std::string> PortArgument(const std::string& word) {
    if (word.size() < 4 || word.size() > 6)
        return std::nullopt;
    for (size_t i = 0; i < 3; ++i)
        if (std::tolower(static_cast<unsigned char>(word[i])) != "com"[i])
            return std::nullopt;
    int number = 0;
    for (size_t i = 3; i < word.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(word[i])))
            return std::nullopt;
        number = number * 10 + (word[i] - '0');
    }
    if (number < 1 || number > 255)
        return std::nullopt;
    return "COM" + std::to_string(number);
}

bool SamePort(const std::string& device, const std::string& named) {
    return device == named;
}
