#pragma once
// Cases of the published checksums' parser (SHA256SUMS as sha256sum writes and reads it), which
// the Windows and the Linux tests share.

#include "firmware/PublishedChecksums.h"

#include <string>
#include <vector>

struct ChecksumListCase {
    const char* name;
    std::string text;
    std::vector<ChecksumLine> lines;
    std::size_t malformed;
};

inline const std::string kDigestA =
    "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"; // "a"
inline const std::string kDigestB =
    "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d"; // "b"

inline const std::vector<ChecksumListCase> kChecksumListCases = {
    {"text and binary markers",
     kDigestA + "  Amp.ace\n" + kDigestB + " *Mixer.ace\n",
     {{"Amp.ace", kDigestA, false}, {"Mixer.ace", kDigestB, true}},
     0},
    {"no line end at the end, CRLF, a tab after the digest",
     kDigestA + "  Amp.ace\r\n" + kDigestB + "\t*Mixer.ace",
     {{"Amp.ace", kDigestA, false}, {"Mixer.ace", kDigestB, true}},
     0},
    {"upper-case hex is read as lower-case",
     "CA978112CA1BBDCAFAC231B39A23DC4DA786EFF8147C4E72B9807785AFEE48BB  a.ace\n",
     {{"a.ace", kDigestA, false}},
     0},
    {"comments, empty lines and leading blanks",
     "# made by the release script\n\n  \t" + kDigestA + "  a.ace\n\r\n",
     {{"a.ace", kDigestA, false}},
     0},
    {"every byte of the name counts, blanks included",
     kDigestA + "   lead and trail .ace \n",
     {{" lead and trail .ace ", kDigestA, false}},
     0},
    {"escaped names",
     "\\" + kDigestA + "  back\\\\slash\\nnew\\rline.ace\n",
     {{"back\\slash\nnew\rline.ace", kDigestA, false}},
     0},
    {"a backslash in a name that is not escaped stays",
     kDigestA + "  dir\\a.ace\n",
     {{"dir\\a.ace", kDigestA, false}},
     0},
    {"malformed: short or long digest, no marker, no name, other hex, bad escapes",
     kDigestA.substr(1) + "  a.ace\n" + kDigestA + "0  a.ace\n" + kDigestA + " a.ace\n" + kDigestA +
         "  \n" + kDigestA + "x  a.ace\n" + "g" + kDigestA.substr(1) + "  a.ace\n" + "\\" +
         kDigestA + "  a\\t.ace\n" + "\\" + kDigestA + "  a.ace\\\n" +
         "SHA256 (a.ace) = " + kDigestA + "\n" + kDigestB + "  b.ace\n",
     {{"b.ace", kDigestB, false}},
     9},
    {"a NUL in a name", kDigestA + "  a" + std::string(1, '\0') + ".ace\n", {}, 1},
    {"nothing", "", {}, 0},
};
