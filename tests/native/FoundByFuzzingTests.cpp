// Inputs that made a fuzz target (tests/fuzz) fail, kept as cases once the fault was mended.
#include "text/TerminalText.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
    const char* text;
    const char* shown;
};

// A malformed UTF-8 character passed whole, so that its bytes from 80 to 9F reached the terminal
// (fuzz_DeviceTexts: E0 8B B1). Only a well-formed character passes whole now.
constexpr TextCase kTerminalCases[] = {
    {"\xE0\x8B\xB1", "\xE0\\x8B\xB1"},           // overlong form of U+02F1
    {"\xE0\x82\x9B", "\xE0\\x82\\x9B"},          // overlong form of U+009B (CSI)
    {"\xC0\x9B", "\xC0\\x9B"},                   // overlong form of ESC
    {"\xED\xA0\x80", "\xED\xA0\\x80"},           // a surrogate, which is no character: ED A0 80
    {"\xF8\x88\x80\x80", "\xF8\\x88\\x80\\x80"}, // a lead byte UTF-8 has not
    {"\xC2\x9B[2J", "\\u009B[2J"},               // the well-formed C1 control, as before
    {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"}, // well-formed, whole
};

TEST(FoundByFuzzing, TerminalTextLetsNoMalformedCharacterThrough) {
    for (const TextCase& sample : kTerminalCases)
        EXPECT_EQ(TerminalText(sample.text), sample.shown) << sample.text;
}

} // namespace
