#pragma once
// Texts from outside the program (a device's product and serial, a system message) as a
// terminal may show them: no byte of them can move the cursor, clear the screen, set a colour
// or a title, or split a line.

#include <string>

// C0 controls and DEL escaped: "\r", "\n", "\t", others as "\x1B". Backslashes stay as they
// are, so that paths read as paths. The support log writes its lines this way.
std::string EscapedControls(const std::string& text);

// EscapedControls, and the C1 controls too (U+0080 to U+009F, which some terminals obey as
// CSI and the like), whether UTF-8 encoded ("\u009B") or a lone byte ("\x9B"). Only a
// well-formed UTF-8 character passes whole: a byte from 80 to 9F in a malformed one (an
// overlong form such as E0 82 9B) is escaped as a lone byte.
std::string TerminalText(const std::string& text);
