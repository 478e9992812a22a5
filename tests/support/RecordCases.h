#pragma once
// Cases of the bench record's rules: a CSV field as written, the SHA-256 of the firmware files,
// and the check of a record that several writers appended to, which the Windows and the Linux
// tests share.

#include <cstddef>

struct CsvFieldCase {
    const char* text;
    const char* written;
};

// A spreadsheet runs a field starting with =, +, -, @, a tab or a carriage return as a formula:
// such a field gets a leading apostrophe. Quotes, commas and line breaks are quoted (RFC 4180).
inline constexpr CsvFieldCase kCsvFieldCases[] = {
    {"ORV1001", "ORV1001"},
    {"", ""},
    {"=1+2", "'=1+2"},
    {"+31 20 555", "'+31 20 555"},
    {"-5", "'-5"},
    {"@SUM(A1:A9)", "'@SUM(A1:A9)"},
    {"\tcmd", "'\tcmd"},
    {"\rcmd", "\"'\rcmd\""},
    {"a=b+c", "a=b+c"},
    {"Orvane Amplifier, rev B", "\"Orvane Amplifier, rev B\""},
    {"say \"hi\"", "\"say \"\"hi\"\"\""},
    {"two\nlines", "\"two\nlines\""},
    {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
    {"C:\\Orvane\\firmware\\Amplifier-v006.ace", "C:\\Orvane\\firmware\\Amplifier-v006.ace"},
};

struct Sha256Case {
    const char* text; // repeated
    std::size_t repeat;
    const char* digest;
};

// The standard's examples, and lengths around the padding's block boundary (55, 56, 64 bytes).
inline constexpr Sha256Case kSha256Cases[] = {
    {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"a", 55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {"a", 56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {"a", 63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
    {"a", 64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {"a", 65, "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
    {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

#include <set>
#include <string>

// The rows that writer w of a record test appends: "writer w", "row r", and a field that needs
// quoting, so a row torn by another writer's append cannot pass for a whole one.
inline std::string RecordTestRow(int writer, int row) {
    return "writer " + std::to_string(writer) + ",row " + std::to_string(row) +
           ",\"a, \"\"quoted\"\" field\"\r\n";
}

// Whether text is the header once, then every writer's rows whole, in any order: "" when so,
// else what is wrong.
inline std::string CheckRecordText(const std::string& text, const std::string& header, int writers,
                                   int rows) {
    if (text.compare(0, header.size(), header) != 0)
        return "the file does not start with the header";
    std::multiset<std::string> found;
    for (size_t at = header.size(); at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            return "the file ends inside a row";
        found.insert(text.substr(at, end + 2 - at));
        at = end + 2;
    }
    std::multiset<std::string> expected;
    for (int writer = 0; writer < writers; ++writer)
        for (int row = 0; row < rows; ++row)
            expected.insert(RecordTestRow(writer, row));
    if (found.count(header))
        return "the header is written more than once";
    return found == expected ? "" : "rows are missing, doubled or torn";
}
