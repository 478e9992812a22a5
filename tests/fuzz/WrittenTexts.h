#pragma once
// What the console program writes from a device's texts, checked by reading it back: a JSON
// string parses back to the text (each byte that is not part of a well-formed UTF-8 character
// read as Latin-1), a CSV line parses back to its fields (a field that a spreadsheet would take
// for a formula with its leading '), a support-log line stays one line, and no control byte
// reaches the terminal.

#include <string>
#include <vector>

void CheckWrittenTexts(const std::vector<std::string>& texts);

// The length of the well-formed UTF-8 character at text[at] (2 to 4), or 0; and its code point.
size_t WellFormedUtf8(const std::string& text, size_t at, unsigned& codePoint);
