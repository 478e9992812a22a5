#pragma once
// UTF-8 as the texts from outside (a device's product and serial) may carry it, or not.

#include <cstddef>
#include <string>

// The length of the well-formed UTF-8 character that starts at text[at] (2 to 4 bytes): no
// overlong form, no surrogate, nothing above U+10FFFF, none cut short by the end of the text.
// 0 when there is none there, and for a single byte (ASCII or not).
size_t Utf8CharacterLength(const std::string& text, size_t at);
