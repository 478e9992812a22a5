#include "common/SystemError.h"

std::string SystemErrorText(SystemError error) {
    std::string words = SystemText(error);
    if (!words.empty() && words.back() == '.')
        words.pop_back();
    const std::string code = "system error " + std::to_string(error);
    return words.empty() ? code : words + " (" + code + ")";
}
