#include "firmware/HeaderField.h"

#include <cstdio>

std::optional<int> ParseHeaderField(const char* field) {
    char text[3] = {field[0], field[0] ? field[1] : '\0', '\0'};
    int value = 0;
    if (std::sscanf(text, "%d", &value) != 1)
        return std::nullopt;
    return value;
}
