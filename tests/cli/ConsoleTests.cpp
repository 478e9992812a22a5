// The console program, orvane-update.exe, run as a child beside the simulated bridge library
// with simulated units on their COM ports.
#include "ProductTexts.h"
#include "VerifyCases.h"
#include "OptionCases.h"
#include "OtherDeviceCases.h"
#include "SimEquipment.h"
#include "cli/ConsoleProgram.h"
#include "support/CaseTable.h"
#include "support/ChildTest.h"
#include "support/FirmwareImage.h"
#include "support/PortDevices.h"
#include "support/RegistryKeys.h"
#include "support/TempFile.h"
#include "common/Sha256Digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kUsage = 1, kNoUnit = 2, kRefused = 3, kFailed = 4, kUnconfirmed = 5,
                kCancelled = 130;

// What a unit updated with image received: the search's question, the update's own question on
// the port it opened, then the program command and the file.
std::string UpdatedWith(const std::string& image) {
    return "ver\rver\rpgm\r" + image;
}

struct UnitSetup {
    UnitSetup(int port, std::string reply, std::string behaviour, std::string serial = "",
              std::string product = "")
        : port(port), reply(std::move(reply)), behaviour(std::move(behaviour)),
          serial(std::move(serial)), product(std::move(product)) {}
    int port;
    std::string reply;     // the "ver" reply: device ID and version, e.g. "0105"
    std::string behaviour; // more conf lines, e.g. "mode=hangup\nhangup_after=9000"
    std::string serial;    // the bridge's serial; "" for "T<port>"
    std::string product;   // its product text; "" for "Unit <reply>"
};

class Console : public ::testing::Test {
  protected:
    void SetUp() override {
        ::SetEnvironmentVariableA("ORVANE_SIM_BRIDGES", m_bridges.Path().c_str());
    }
    void TearDown() override { ::SetEnvironmentVariableA("ORVANE_SIM_BRIDGES", nullptr); }

    // Units behind bridges, in index order; unit N has serial TN and product "Unit <reply>"
    // unless it names its own.
    void Units(const std::vector<UnitSetup>& units) {
        if (units.empty())
            return m_bridges.Write("");
        std::string bridges;
        std::vector<int> ports;
        for (const UnitSetup& unit : units) {
            const std::string serial =
                unit.serial.empty() ? "T" + std::to_string(unit.port) : unit.serial;
            bridges += "product=\"" + (unit.product.empty() ? "Unit " + unit.reply : unit.product) +
                       "\" serial=" + serial + "\n";
            ASSERT_TRUE(
                m_ports.SetText("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\" +
                                    serial + "\\Device Parameters",
                                "PortName", "COM" + std::to_string(unit.port)));
            ports.push_back(unit.port);
        }
        m_bridges.Write(bridges);
        ASSERT_TRUE(m_units.Start(ports)) << m_units.Error();
        for (const UnitSetup& unit : units)
            ASSERT_TRUE(m_units.Configure(unit.port, "reply=" + unit.reply + "\n" + unit.behaviour))
                << m_units.Error();
    }

    // Whether the unit was sent the program command at any time.
    bool Programmed(int port) const {
        return SimEquipment::CountEventLines(m_units.Events(port), "pgm") > 0;
    }

    TempFile m_bridges{"", ".txt"};
    RegistryKeys m_ports;
    SimEquipment m_units;
    ConsoleProgram m_program;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
    return lines;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A strict reader of the JSON that list --json writes: an array of flat objects. Each value
// comes back as its text (strings unescaped, others as written); false on anything malformed.
class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : m_text(text) {}

    bool ReadArray(std::vector<std::map<std::string, std::string>>& objects) {
        if (!Take('['))
            return false;
        if (Take(']'))
            return AtEnd();
        do {
            std::map<std::string, std::string> object;
            if (!ReadObject(object))
                return false;
            objects.push_back(object);
        } while (Take(','));
        return Take(']') && AtEnd();
    }

  private:
    // A character of the Basic Multilingual Plane, which is what one \u escape names.
    static void AppendUtf8(std::string& text, int point) {
        if (point < 0x80) {
            text += static_cast<char>(point);
        } else if (point < 0x800) {
            text += static_cast<char>(0xC0 | point >> 6);
            text += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | point >> 12);
            text += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    void SkipSpace() {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
    }
    bool Take(char expected) {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == expected) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        SkipSpace();
        return m_at == m_text.size();
    }
    bool ReadString(std::string& value) {
        if (!Take('"'))
            return false;
        while (m_at < m_text.size() && m_text[m_at] != '"') {
            const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
            if (c < 0x20)
                return false;
            if (c != '\\') {
                value += static_cast<char>(c);
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            const char escaped = m_text[m_at++];
            if (escaped == 'u') {
                if (m_at + 4 > m_text.size())
                    return false;
                AppendUtf8(value, std::stoi(m_text.substr(m_at, 4), nullptr, 16));
                m_at += 4;
            } else if (escaped == '"' || escaped == '\\' || escaped == '/') {
                value += escaped;
            } else {
                return false;
            }
        }
        return Take('"');
    }
    bool ReadValue(std::string& value) {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == '"')
            return ReadString(value);
        const size_t start = m_at;
        while (m_at < m_text.size() &&
               (std::isalnum(static_cast<unsigned char>(m_text[m_at])) || m_text[m_at] == '-'))
            ++m_at;
        value = m_text.substr(start, m_at - start);
        if (value == "null" || value == "true" || value == "false")
            return true;
        return !value.empty() && value.find_first_not_of("-0123456789") == std::string::npos;
    }
    bool ReadObject(std::map<std::string, std::string>& object) {
        if (!Take('{'))
            return false;
        do {
            std::string key, value;
            if (!ReadString(key) || !Take(':') || !ReadValue(value))
                return false;
            object[key] = value;
        } while (Take(','));
        return Take('}');
    }

    const std::string& m_text;
    size_t m_at = 0;
};

// The product texts shared with the native suite: the bytes a bridge reports (written with \xNN
// escapes in the file), and the text list --json must give for them.
std::vector<std::pair<std::string, std::string>> ProductTexts() {
    std::vector<std::pair<std::string, std::string>> texts;
    std::istringstream lines(kProductTexts);
    for (std::string line; std::getline(lines, line);) {
        const size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos)
            continue;
        std::string reported;
        for (size_t i = 0; i < tab; ++i) {
            if (line.compare(i, 2, "\\x") == 0) {
                reported += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                reported += line[i];
            }
        }
        texts.emplace_back(reported, line.substr(tab + 1));
    }
    return texts;
}

TEST_F(Console, ListShowsEachUnitAsLinesAndAsJson) {
    Units({{5, "0105", ""}, {6, "0203", ""}, {7, "0304", "mode=silent"}});
    EXPECT_EQ(RunConsole(m_program, "list"), 0u) << m_program.Errors();
    EXPECT_EQ(Lines(m_program.Output()),
              (std::vector<std::string>{
                  "COM5  \"Unit 0105\"  serial T5  model 1  firmware 005  via library",
                  "COM6  \"Unit 0203\"  serial T6  model 2  firmware 003  via library",
                  // Silent, and its own product string names no Orvane equipment.
                  "COM7  \"Unit 0304\"  serial T7  another device, not Orvane equipment: it did "
                  "not answer and its product string does not name Orvane  via library"}));

    ConsoleProgram json;
    EXPECT_EQ(RunConsole(json, "list --json"), 0u) << json.Errors();
    std::vector<std::map<std::string, std::string>> units;
    ASSERT_TRUE(JsonReader(json.Output()).ReadArray(units)) << json.Output();
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0], (std::map<std::string, std::string>{{"port", "COM5"},
                                                            {"product", "Unit 0105"},
                                                            {"serial", "T5"},
                                                            {"model", "1"},
                                                            {"firmware", "005"},
                                                            {"source", "library"},
                                                            {"kind", "unit"}}));
    EXPECT_EQ(units[1]["firmware"], "003");
    EXPECT_EQ(units[2]["model"], "null");
    EXPECT_EQ(units[2]["firmware"], "unknown");
    EXPECT_EQ(units[2]["kind"], "other");
    for (const int port : {5, 6, 7})
        EXPECT_FALSE(Programmed(port));
}

TEST_F(Console, ListJsonWritesEachProductAsUtf8) {
    // Bridges without a port: the list shows them and opens nothing.
    const std::vector<std::pair<std::string, std::string>> texts = ProductTexts();
    ASSERT_FALSE(texts.empty());
    std::string bridges;
    for (size_t i = 0; i < texts.size(); ++i)
        bridges += "product=\"" + texts[i].first + "\" serial=P" + std::to_string(i) + "\n";
    m_bridges.Write(bridges);
    EXPECT_EQ(RunConsole(m_program, "list --json"), 0u) << m_program.Errors();
    std::vector<std::map<std::string, std::string>> units;
    ASSERT_TRUE(JsonReader(m_program.Output()).ReadArray(units)) << m_program.Output();
    ASSERT_EQ(units.size(), texts.size()) << m_program.Output();
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(units[i]["product"], texts[i].second) << texts[i].first;
}

TEST_F(Console, ListWithoutUnitsOrLibrarySaysSoAndExits2) {
    Units({});
    EXPECT_EQ(RunConsole(m_program, "list"), kNoUnit);
    EXPECT_EQ(Lines(m_program.Output()), std::vector<std::string>{"No Orvane equipment connected"});
    ConsoleProgram json;
    EXPECT_EQ(RunConsole(json, "list --json"), kNoUnit);
    EXPECT_EQ(Lines(json.Output()), std::vector<std::string>{"[]"});

    // A copy of the program alone in a folder, then beside the 32-bit library: the window's words.
    TempFolder alone("console");
    const std::string copy =
        alone.Add("orvane-update.exe", ReadWholeFile(ConsoleProgram::BesideTests()));
    ConsoleProgram missing;
    ASSERT_TRUE(missing.Start("list", false, copy));
    ASSERT_TRUE(missing.Finish());
    EXPECT_EQ(missing.ExitCode(), kNoUnit);
    EXPECT_EQ(missing.Errors(), "orvane-update: Unable to load CP210xManufacturing.dll: no "
                                "equipment can be found\r\n");

    std::string thirtyTwoBit = ThisProgram();
    thirtyTwoBit.erase(thirtyTwoBit.find_last_of('\\'));
    alone.Add("CP210xManufacturing.dll",
              ReadWholeFile(thirtyTwoBit + "\\..\\x86\\bin\\CP210xManufacturing.dll"));
    ConsoleProgram otherBitness;
    ASSERT_TRUE(otherBitness.Start("list --json", false, copy));
    ASSERT_TRUE(otherBitness.Finish());
    EXPECT_EQ(otherBitness.ExitCode(), kNoUnit);
    EXPECT_EQ(otherBitness.Output(), "");
    EXPECT_EQ(otherBitness.Errors(),
              "orvane-update: CP210xManufacturing.dll is a 32-bit library and this is the 64-bit "
              "program: use the 32-bit program, or the 64-bit library\r\n");
}

TEST_F(Console, ListWithoutTheLibraryFindsTheBridgesInTheDeviceList) {
    Units({{5, "0105", ""}});
    PortDevices devices;
    PortDevice bridge = Device("VID_10C4&PID_EA60", "T5", "COM5");
    bridge.busDescription = "Unit 0105";
    ASSERT_TRUE(devices.Add(bridge));
    TempFolder alone("console");
    const std::string copy =
        alone.Add("orvane-update.exe", ReadWholeFile(ConsoleProgram::BesideTests()));
    ConsoleProgram listed;
    ASSERT_TRUE(listed.Start("list", false, copy));
    ASSERT_TRUE(listed.Finish());
    EXPECT_EQ(listed.ExitCode(), 0u) << listed.Errors();
    EXPECT_EQ(Lines(listed.Output()),
              std::vector<std::string>{
                  "COM5  \"Unit 0105\"  serial T5  model 1  firmware 005  via device list"});
    EXPECT_EQ(listed.Errors(), "orvane-update: Bridges from the system's device list: "
                               "CP210xManufacturing.dll not loaded\r\n");
}

TEST_F(Console, CheckGivesEachUnitsVerdictInTheWindowsWords) {
    Units({{5, "0105", ""}, {6, "0203", ""}, {7, "0109", ""}, {8, "0108", ""}});
    TempFile firmware(FirmwareImage(4096, "01", "08"), ".ace");
    EXPECT_EQ(RunConsole(m_program, "check \"" + firmware.Path() + "\""), 0u) << m_program.Errors();
    EXPECT_EQ(Lines(m_program.Output()),
              (std::vector<std::string>{
                  "File " + firmware.Path() + ": model 1, version 008, 4096 bytes",
                  "COM5 (Unit 0105, serial T5, model 1, firmware 005): accepted",
                  "COM6 (Unit 0203, serial T6, model 2, firmware 003): refused: This file is not "
                  "meant for the connected equipment",
                  "COM7 (Unit 0109, serial T7, model 1, firmware 009): refused: This file version "
                  "is older than the current firmware",
                  "COM8 (Unit 0108, serial T8, model 1, firmware 008): refused: Your equipment "
                  "already has the latest firmware installed"}));

    ConsoleProgram one;
    EXPECT_EQ(RunConsole(one, "check \"" + firmware.Path() + "\" --serial T6"), kRefused);
    EXPECT_EQ(Lines(one.Output()).size(), 2u) << one.Output();
    ConsoleProgram accepted;
    EXPECT_EQ(RunConsole(accepted, "check \"" + firmware.Path() + "\" --port com5"), 0u);

    TempFile badField(FirmwareImage(4096, "x1", "08"), ".ace");
    ConsoleProgram bad;
    EXPECT_EQ(RunConsole(bad, "check \"" + badField.Path() + "\""), kRefused);
    EXPECT_EQ(bad.Errors(),
              "orvane-update: Unable to get device ID from file: " + badField.Path() + "\r\n");
    for (const int port : {5, 6, 7, 8})
        EXPECT_FALSE(Programmed(port));
}

TEST_F(Console, UpdateSendsTheProgramCommandAndTheFileAndPutsTheLineBack) {
    // The line is found with XON/XOFF on, as another program may leave it: the update turns it
    // off for the transfer and the close must put it back.
    Units({{5, "0105", "xonxoff=1"}, {6, "0105", ""}});
    const std::string image = FirmwareImage(40 * 1024 + 100, "01", "08");
    TempFile firmware(image, ".ace");
    EXPECT_EQ(RunConsole(m_program, "update \"" + firmware.Path() + "\" --port COM5 --yes"), 0u)
        << m_program.Errors();
    ASSERT_TRUE(m_units.WaitEvent(5, "close bytes=" + std::to_string(8 + image.size())));
    // The version query of the search, then the update's session.
    EXPECT_TRUE(m_units.Received(5) == UpdatedWith(image))
        << m_units.Received(5).size() << " bytes received";
    EXPECT_TRUE(m_units.WaitEvent(5, "close bytes=" + std::to_string(8 + image.size()) +
                                         " firmware=" + std::to_string(image.size()) +
                                         " xonxoff=1"))
        << m_units.Events(5);
    EXPECT_FALSE(Programmed(6));

    // Redirected output: one progress line per tenth, then the window's completion text.
    const std::vector<std::string> lines = Lines(m_program.Output());
    int progressLines = 0;
    for (const std::string& line : lines)
        progressLines += line.rfind("COM5: ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(progressLines, 10) << m_program.Output();
    EXPECT_TRUE(Contains(m_program.Output(), "COM5: " + std::to_string(image.size()) + " of " +
                                                 std::to_string(image.size()) + " bytes (100%)"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("Your equipment has been successfully updated (COM5, " +
                                     std::to_string(image.size()) + " bytes in ",
                                 0),
              0u)
        << lines.back();
}

TEST_F(Console, UpdateBySerialAndDowngradeOnlyWhenAllowed) {
    Units({{5, "0105", ""}, {6, "0109", ""}});
    const std::string image = FirmwareImage(8192, "01", "08");
    TempFile firmware(image, ".ace");
    const std::string update = "update \"" + firmware.Path() + "\" --serial T6 --yes";
    EXPECT_EQ(RunConsole(m_program, update), kRefused);
    EXPECT_TRUE(Contains(m_program.Errors(), "COM6 (Unit 0109, serial T6, model 1, firmware "
                                             "009): This file version is older than the "
                                             "current firmware"))
        << m_program.Errors();
    EXPECT_FALSE(Programmed(6));

    ConsoleProgram allowed;
    EXPECT_EQ(RunConsole(allowed, update + " --allow-downgrade"), 0u) << allowed.Errors();
    EXPECT_TRUE(Contains(allowed.Output(), "--allow-downgrade: COM6 gets version 008 over its 009"))
        << allowed.Output();
    ASSERT_TRUE(m_units.WaitEvent(6, "close bytes=" + std::to_string(8 + image.size())));
    EXPECT_TRUE(m_units.Received(6) == "ver\r" + UpdatedWith(image));
    EXPECT_FALSE(Programmed(5));

    // Never another model's file, downgrade or not.
    TempFile otherModel(FirmwareImage(8192, "02", "08"), ".ace");
    ConsoleProgram refused;
    EXPECT_EQ(RunConsole(refused, "update \"" + otherModel.Path() +
                                      "\" --port COM5 --yes --allow-downgrade"),
              kRefused);
    EXPECT_FALSE(Programmed(5));
}

TEST_F(Console, UpdateAllRunsEachMeantUnitAndATableEvenWhenOneFails) {
    // Two units the file is meant for, one of another model, one that hangs up mid-transfer.
    Units({{5, "0105", ""},
           {6, "0203", ""},
           {7, "0106", ""},
           {8, "0105", "mode=hangup\nhangup_after=20000"}});
    const std::string image = FirmwareImage(64 * 1024, "01", "08");
    TempFile firmware(image, ".ace");
    EXPECT_EQ(RunConsole(m_program, "update \"" + firmware.Path() + "\" --all --yes"), kFailed)
        << m_program.Errors();
    for (const int port : {5, 7}) {
        ASSERT_TRUE(m_units.WaitEvent(port, "close bytes=" + std::to_string(8 + image.size())));
        EXPECT_TRUE(m_units.Received(port) == UpdatedWith(image)) << port;
    }
    EXPECT_FALSE(Programmed(6));
    EXPECT_TRUE(m_units.WaitEvent(8, "hangup"));

    const std::string output = m_program.Output();
    EXPECT_TRUE(Contains(output, "COM6 (Unit 0203, serial T6, model 2, firmware 003): skipped: "
                                 "This file is not meant for the connected equipment"))
        << output;
    // The table: a heading, then the units updated in their order, then the skipped one.
    std::vector<std::string> table;
    for (const std::string& line : Lines(output))
        if (line.rfind("PORT", 0) == 0 || !table.empty())
            table.push_back(line);
    ASSERT_EQ(table.size(), 5u) << output;
    const auto columns = [](const std::string& line) {
        std::vector<std::string> words;
        std::istringstream stream(line);
        for (std::string word; stream >> word;)
            words.push_back(word);
        return words;
    };
    EXPECT_EQ(columns(table[0]),
              (std::vector<std::string>{"PORT", "SERIAL", "OLD", "RESULT", "BYTES", "SECONDS"}));
    const std::string size = std::to_string(image.size());
    for (const int row : {1, 2}) {
        const std::vector<std::string> words = columns(table[row]);
        ASSERT_EQ(words.size(), 6u) << table[row];
        EXPECT_EQ(words[0], row == 1 ? "COM5" : "COM7");
        EXPECT_EQ(words[2], row == 1 ? "005" : "006");
        EXPECT_EQ(words[3], "updated");
        EXPECT_EQ(words[4], size);
    }
    EXPECT_EQ(table[3].rfind("COM8", 0), 0u);
    EXPECT_TRUE(Contains(table[3], "failed: Error writing data to Master COM port")) << table[3];
    const std::vector<std::string> failed = columns(table[3]);
    EXPECT_LT(std::stoul(failed[failed.size() - 2]), image.size());
    EXPECT_EQ(table[4].rfind("COM6", 0), 0u);
    EXPECT_TRUE(Contains(table[4], "skipped: This file is not meant for the connected equipment"));
}

TEST_F(Console, UpdateAllFailsWhenAUnitCouldNotBeChecked) {
    const std::string image = FirmwareImage(8192, "01", "08");
    TempFile firmware(image, ".ace");
    const std::string silentRow =
        "COM7 T7 unknown not checked: the unit did not answer the version query 0 -";
    struct Case {
        std::vector<UnitSetup> units;
        std::vector<int> updated;
    };
    const std::vector<Case> cases = {
        {{{5, "0105", ""}, {7, "0105", "mode=silent", "", "Orvane Unit 0105"}}, {5}},
        {{{7, "0105", "mode=silent", "", "Orvane Unit 0105"}}, {}},
    };
    for (const Case& c : cases) {
        m_units.Stop();
        Units(c.units);
        ConsoleProgram run;
        EXPECT_EQ(RunConsole(run, "update \"" + firmware.Path() + "\" --all --yes"), kFailed)
            << run.Output() << run.Errors();
        for (const int port : c.updated) {
            ASSERT_TRUE(m_units.WaitEvent(port, "close bytes=" + std::to_string(8 + image.size())));
            EXPECT_TRUE(m_units.Received(port) == UpdatedWith(image)) << port;
        }
        EXPECT_FALSE(Programmed(7));
        // The table's last row, its columns one blank apart.
        std::istringstream lastRow(Lines(run.Output()).back());
        std::string row;
        for (std::string word; lastRow >> word;)
            row += (row.empty() ? "" : " ") + word;
        EXPECT_EQ(row, silentRow) << run.Output();
    }
}

TEST_F(Console, ASilentBridgeNotNamedOrvaneIsAnotherDeviceUnlessItsProductIsUnknown) {
    // Through the device list: a bridge with a bus-reported product string, or ("-") only the
    // driver's description. Beside it a unit the file is meant for.
    const std::string image = FirmwareImage(4096, "01", "06");
    TempFile firmware(image, ".ace");
    TempFolder alone("console");
    const std::string copy =
        alone.Add("orvane-update.exe", ReadWholeFile(ConsoleProgram::BesideTests()));
    int count = 0;
    for (const std::vector<std::string>& columns : CaseRows(kOtherDeviceCases)) {
        ASSERT_EQ(columns.size(), 4u) << columns[0];
        const std::string& product = columns[0];
        // The units on their ports; the bridges only in the device list, whose keys go with
        // each case.
        m_units.Stop();
        ASSERT_TRUE(m_units.Start({5, 6})) << m_units.Error();
        ASSERT_TRUE(m_units.Configure(5, "reply=0105") &&
                    m_units.Configure(6, "reply=0105\n" + columns[1]))
            << m_units.Error();
        const std::string serial = "C" + std::to_string(count);
        PortDevices devices;
        PortDevice unit = Device("VID_10C4&PID_EA60", "T5", "COM5");
        unit.busDescription = "Orvane Amplifier";
        PortDevice other = Device("VID_10C4&PID_EA60", serial, "COM6");
        other.busDescription = product == "-" ? "" : product;
        ASSERT_TRUE(devices.Add(unit) && devices.Add(other));

        ConsoleProgram listed;
        ASSERT_TRUE(listed.Start("list", false, copy));
        ASSERT_TRUE(listed.Finish());
        const std::vector<std::string> lines = Lines(listed.Output());
        ASSERT_EQ(lines.size(), 2u) << listed.Output();
        // The device list's order is the system's: the bridge is the line of COM6.
        const std::string& bridge = lines[0].rfind("COM6 ", 0) == 0 ? lines[0] : lines[1];
        EXPECT_EQ(Contains(bridge, "another device, not Orvane equipment"), columns[2] == "other")
            << columns[0] << ": " << listed.Output();

        ConsoleProgram all;
        ASSERT_TRUE(all.Start("update \"" + firmware.Path() + "\" --all --yes", false, copy));
        ASSERT_TRUE(all.Finish());
        EXPECT_EQ(all.ExitCode(), std::stoul(columns[3])) << columns[0] << ": " << all.Output();
        EXPECT_EQ(Contains(all.Output(), "COM6"), columns[2] == "unit") << all.Output();
        EXPECT_FALSE(Programmed(6));
        ++count;
    }
    EXPECT_EQ(count, 4);
}

TEST_F(Console, APortOrSerialThatTwoUnitsReportIsRefused) {
    Units({{5, "0105", ""}});
    // A second bridge with the same serial, and one whose serial the system also puts on COM5.
    ASSERT_TRUE(m_ports.SetText(
        "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\X5\\Device Parameters",
        "PortName", "COM5"));
    TempFile firmware(FirmwareImage(4096, "01", "08"), ".ace");
    const std::string update = "update \"" + firmware.Path() + "\" --yes ";
    const std::string unit = "product=\"Unit 0105\" serial=";
    struct Case {
        std::string secondBridge;
        std::string arguments;
        std::string error;
    };
    const std::vector<Case> cases = {
        {unit + "T5", "--port COM5",
         "orvane-update: COM5 is reported by 2 units: name one with "
         "--serial"},
        {unit + "X5", "--port com5",
         "orvane-update: COM5 is reported by 2 units: name one with "
         "--serial"},
        {unit + "T5", "--serial T5",
         "orvane-update: serial \"T5\" is on 2 units: name one with "
         "--port"},
    };
    for (const Case& c : cases) {
        m_bridges.Write(unit + "T5\n" + c.secondBridge + "\n");
        ConsoleProgram run;
        EXPECT_EQ(RunConsole(run, update + c.arguments), kUsage) << c.arguments;
        EXPECT_EQ(Lines(run.Errors()), std::vector<std::string>{c.error}) << c.arguments;
    }
    EXPECT_FALSE(Programmed(5)) << m_units.Events(5);
}

TEST_F(Console, BadInputGetsOneLineAndItsExitCodeAndNothingIsSent) {
    Units({{5, "0105", ""}});
    TempFile firmware(FirmwareImage(4096, "01", "08"), ".ace");
    const std::string file = "\"" + firmware.Path() + "\"";
    TempFolder folder("firmware");
    TempFile tooShort(FirmwareImage(300, "01", "08"), ".ace");
    // Held by this process without sharing: the program cannot read it.
    TempFile held(FirmwareImage(4096, "01", "08"), ".ace");
    HANDLE holder = ::CreateFileA(held.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // 4 GiB, sparse: only the header is written.
    TempFile huge(FirmwareImage(512, "01", "08"), ".ace");
    {
        HANDLE grow = ::CreateFileA(huge.Path().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(grow, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size{};
        size.QuadPart = 0x100000000LL;
        EXPECT_TRUE(::SetFilePointerEx(grow, size, nullptr, FILE_BEGIN));
        EXPECT_TRUE(::SetEndOfFile(grow));
        ::CloseHandle(grow);
    }

    struct Case {
        std::string arguments;
        DWORD exitCode;
        std::string error; // a part of the one line
    };
    const std::vector<Case> cases = {
        {"", kUsage, "no command given"},
        {"flash " + file, kUsage, "unknown command \"flash\""},
        {"update " + file + " --port COM5 --yes --force", kUsage, "unknown option \"--force\""},
        {"update " + file + " --port COM5 --serial T5 --yes", kUsage, "use only one of"},
        {"update " + file + " --all --port COM5 --yes", kUsage, "use only one of"},
        {"update " + file + " --port COM5 --yes --record", kUsage, "--record needs the file"},
        {"check " + file + " --verify", kUsage, "unknown option \"--verify\" for check"},
        {"watch", kUsage, "watch needs a firmware file"},
        {"watch " + file + " --all --yes", kUsage, "unknown option \"--all\" for watch"},
        {"watch " + file + " --port COM5 --yes", kUsage, "unknown option \"--port\" for watch"},
        {"watch " + file, kUsage, "add --yes to watch without asking"},
        {"update " + file + " --port COMX --yes", kUsage, "is not a COM port name"},
        {"update " + file + " --port COM5", kUsage, "add --yes to update without asking"},
        {"update C:\\no\\such\\firmware.ace --port COM5 --yes", kUsage,
         "Error opening Source File \"C:\\no\\such\\firmware.ace\": "},
        {"update \"" + folder.Path() + "\" --port COM5 --yes", kUsage,
         "no firmware file (.ace) in \"" + folder.Path() + "\" can be used"},
        {"update \"" + held.Path() + "\" --port COM5 --yes", kUsage, "Error opening Source File"},
        {"update \"" + huge.Path() + "\" --port COM5 --yes", kRefused,
         "This file is too large to be firmware (4 GB or more)"},
        {"check \"" + tooShort.Path() + "\"", kRefused,
         "Source file too short to retrieve header information"},
        {"update " + file + " --port COM9 --yes", kNoUnit, "no Orvane equipment on COM9"},
        {"update " + file + " --serial T9 --yes", kNoUnit,
         "no Orvane equipment with serial \"T9\""},
    };
    for (const Case& c : cases) {
        ConsoleProgram run;
        EXPECT_EQ(RunConsole(run, c.arguments), c.exitCode) << c.arguments;
        const std::vector<std::string> errors = Lines(run.Errors());
        ASSERT_EQ(errors.size(), 1u) << c.arguments << ": " << run.Errors();
        EXPECT_TRUE(Contains(errors[0], c.error)) << c.arguments << ": " << errors[0];
    }
    ::CloseHandle(holder);
    EXPECT_FALSE(Programmed(5)) << m_units.Events(5);
}

TEST_F(Console, HelpListsTheCommandsAndExitCodesWithin80Columns) {
    EXPECT_EQ(RunConsole(m_program, "--help"), 0u);
    const std::string help = m_program.Output();
    for (const char* part :
         {"list [--json]", "check FILE|FOLDER [-p COMn | -s S]",
          "update FILE|FOLDER [-p COMn | -s S | -a] [-y] [--verify]", "--allow-downgrade",
          "[--record FILE.csv]", "watch FILE|FOLDER [-y] [--verify] [--allow-downgrade]",
          "orvane-update doctor", "bridge library", "0    done", "1    usage", "2    no unit",
          "3    refused by the check", "4    transfer failed", "5    sent, but --verify",
          "130  cancelled"})
        EXPECT_TRUE(Contains(help, part)) << part;
    for (const std::string& line : Lines(help))
        EXPECT_LE(line.size(), 80u) << line;
}

// The options table shared with the native suite.
TEST_F(Console, TheOptionsAndTheirErrors) {
    Units({{5, "0105", ""}, {6, "0203", ""}});
    TempFile firmware(FirmwareImage(4096, "01", "06"), ".ace");
    const auto put = [&](std::string text) {
        for (const auto& [name, value] :
             {std::pair<std::string, std::string>{"{FILE}", "\"" + firmware.Path() + "\""},
              {"{PORT}", "COM5"},
              {"\\n", "\n"}})
            for (size_t at; (at = text.find(name)) != std::string::npos;)
                text.replace(at, name.size(), value);
        return text;
    };
    std::istringstream cases(kOptionCases);
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.find('\t'), second = line.find('\t', tab + 1);
        const std::string arguments = put(line.substr(0, tab));
        const DWORD code = std::stoul(line.substr(tab + 1, second - tab - 1));
        const std::string said = line.substr(second + 1);
        const std::string start = put(said.substr(said.find(':') + 1));
        ConsoleProgram run;
        EXPECT_EQ(RunConsole(run, arguments), code) << arguments << ": " << run.Errors();
        std::string text = said.rfind("out:", 0) == 0 ? run.Output() : run.Errors();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        EXPECT_EQ(text.rfind(start, 0), 0u) << arguments << ": " << text;
        ++count;
    }
    EXPECT_GT(count, 10);
    EXPECT_FALSE(Programmed(5)) << m_units.Events(5);
}

TEST_F(Console, DeviceTextsReachTheTerminalEscapedAndJsonUnchanged) {
    // A bridge without a port: listed, never opened.
    m_bridges.Write("product=\"\x1b]0;owned\x07\x1b[2J\x1b[31mOrvane\x9b"
                    "1m\" serial=S\x1b[5m1\n");
    EXPECT_EQ(RunConsole(m_program, "list"), 0u) << m_program.Errors();
    EXPECT_EQ(m_program.Output(), "no port  \"\\x1B]0;owned\\x07\\x1B[2J\\x1B[31mOrvane\\x9B1m\"  "
                                  "serial S\\x1B[5m1  model unknown  firmware unknown  via "
                                  "library\r\n");
    ConsoleProgram json;
    EXPECT_EQ(RunConsole(json, "list --json"), 0u) << json.Errors();
    std::vector<std::map<std::string, std::string>> units;
    ASSERT_TRUE(JsonReader(json.Output()).ReadArray(units)) << json.Output();
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0]["product"], "\x1b]0;owned\x07\x1b[2J\x1b[31mOrvane\xc2\x9b"
                                   "1m");
    EXPECT_EQ(units[0]["serial"], "S\x1b[5m1");
}

TEST_F(Console, JsonEventsOneObjectPerLineWithTheRecordsFields) {
    Units({{5, "0105", ""}, {6, "0203", ""}});
    TempFile firmware(FirmwareImage(20 * 1024, "01", "06"), ".ace");
    EXPECT_EQ(RunConsole(m_program, "update \"" + firmware.Path() + "\" -a -y --json"), 0u)
        << m_program.Errors();
    std::string array = "[";
    for (const std::string& line : Lines(m_program.Output()))
        array += (array.size() > 1 ? "," : "") + line;
    std::vector<std::map<std::string, std::string>> events;
    ASSERT_TRUE(JsonReader(array + "]").ReadArray(events)) << m_program.Output();
    std::vector<std::string> names;
    for (auto& event : events)
        names.push_back(event["event"]);
    std::vector<std::string> expected{"found", "found", "refused", "updating"};
    expected.insert(expected.end(), 10, "progress");
    expected.insert(expected.end(), {"updated", "totals"});
    EXPECT_EQ(names, expected) << m_program.Output();
    ASSERT_EQ(events.size(), expected.size());
    std::map<std::string, std::string> updated = events[events.size() - 2];
    for (const char* field :
         {"time", "host", "product", "model", "file", "sha256", "seconds", "confirmed"})
        EXPECT_EQ(updated.count(field), 1u) << field;
    EXPECT_EQ(updated["port"], "COM5");
    EXPECT_EQ(updated["old_version"], "005");
    EXPECT_EQ(updated["new_version"], "006");
    EXPECT_EQ(updated["bytes"], std::to_string(20 * 1024));
    EXPECT_EQ(updated["result"], "updated");
    EXPECT_EQ(events[2]["port"], "COM6");
    EXPECT_EQ(events.back()["updated"], "1");
    EXPECT_EQ(events.back()["exit"], "0");
}

TEST_F(Console, TheConsolesCodePageIsPutBackAtTheEnd) {
    // The first run gives this process a console to share with the program.
    ConsoleProgram first;
    ASSERT_TRUE(first.Start("--help", true));
    ASSERT_TRUE(first.Finish());
    for (const UINT codePage : {437u, 1252u}) {
        ASSERT_TRUE(::SetConsoleOutputCP(codePage));
        ConsoleProgram run;
        ASSERT_TRUE(run.Start("--help", true));
        ASSERT_TRUE(run.Finish());
        EXPECT_EQ(run.ExitCode(), 0u);
        EXPECT_EQ(::GetConsoleOutputCP(), codePage);
    }
}

TEST_F(Console, CtrlCCancelsThePendingWriteRestoresTheLineAndExits130) {
    // Slow enough that the transfer is surely under way when the event comes.
    Units({{5, "0105", "mode=paced\npaced_rate=16384\nxonxoff=1"}});
    const std::string image = FirmwareImage(256 * 1024, "01", "08");
    TempFile firmware(image, ".ace");
    ASSERT_TRUE(m_program.Start("update \"" + firmware.Path() + "\" --port COM5 --yes", true));
    ASSERT_TRUE(m_units.WaitReceived(5, 4 + 4 + 16 * 1024, 20000)) << m_units.Events(5);
    const ULONGLONG interrupted = ::GetTickCount64();
    ASSERT_TRUE(m_program.Interrupt()) << ::GetLastError();
    ASSERT_TRUE(m_program.Finish(10000));
    EXPECT_LT(::GetTickCount64() - interrupted, 3000u);
    EXPECT_EQ(m_program.ExitCode(), kCancelled) << m_program.Errors();
    EXPECT_TRUE(Contains(m_program.Output(), "the unit may need the update again"))
        << m_program.Output();
    // The port was closed with XON/XOFF put back as it was found, and far from all was sent.
    ASSERT_TRUE(m_units.WaitEvent(5, "close bytes=")) << m_units.Events(5);
    const std::string events = m_units.Events(5);
    const size_t close = events.rfind("close bytes=");
    EXPECT_TRUE(Contains(events.substr(close), "xonxoff=1")) << events;
    EXPECT_LT(m_units.Received(5).size(), 4 + 4 + image.size() / 2);
}

TEST_F(Console, FolderGivesEachUnitTheNewestFileForItsModel) {
    Units({{5, "0105", ""}, {6, "0203", ""}, {7, "0302", ""}, {8, "0106", ""}, {9, "0401", ""}});
    // A name beyond ASCII, in the system's 8-bit code page (UTF-8 in the test's prefix).
    const std::string verstaerker = "Verst\xc3\xa4rker-v002.ace";
    const std::string fourth = FirmwareImage(2560, "04", "02");
    TempFolder folder("firmware");
    const std::string newest = FirmwareImage(64 * 1024, "01", "06");
    for (const auto& [name, image] : std::vector<std::pair<std::string, std::string>>{
             {"Amplifier-v005.ace", FirmwareImage(4096, "01", "05")},
             {"Amplifier-v006.ace", newest},
             {"Mixer-a.ace", FirmwareImage(2048, "02", "04")},
             {"Mixer-b.ace", FirmwareImage(3072, "02", "04")},
             {"broken.ace", std::string(100, '\0')},
             {verstaerker, fourth},
             {"notes.txt", "not firmware"}})
        folder.Add(name, image);
    const std::string path = folder.Path() + "\\";
    const std::string broken = "orvane-update: Source file too short to retrieve header "
                               "information: " +
                               path + "broken.ace (left out)\r\n";
    const std::string ambiguous =
        "model 2 is ambiguous: Mixer-a.ace and Mixer-b.ace are both version 004";
    EXPECT_EQ(RunConsole(m_program, "check \"" + folder.Path() + "\""), 0u) << m_program.Errors();
    EXPECT_EQ(m_program.Errors(), broken);
    EXPECT_EQ(Lines(m_program.Output()),
              (std::vector<std::string>{
                  "File " + path + "Amplifier-v005.ace: model 1, version 005, 4096 bytes",
                  "File " + path + "Amplifier-v006.ace: model 1, version 006, 65536 bytes",
                  "File " + path + "Mixer-a.ace: model 2, version 004, 2048 bytes",
                  "File " + path + "Mixer-b.ace: model 2, version 004, 3072 bytes",
                  "File " + path + verstaerker + ": model 4, version 002, 2560 bytes",
                  "COM5 (Unit 0105, serial T5, model 1, firmware 005): Amplifier-v006.ace "
                  "(version 006): accepted",
                  "COM6 (Unit 0203, serial T6, model 2, firmware 003): refused: " + ambiguous,
                  "COM7 (Unit 0302, serial T7, model 3, firmware 002): refused: This file is not "
                  "meant for the connected equipment (no file in the folder is for model 3)",
                  "COM8 (Unit 0106, serial T8, model 1, firmware 006): Amplifier-v006.ace "
                  "(version 006): refused: Your equipment already has the latest firmware "
                  "installed",
                  "COM9 (Unit 0401, serial T9, model 4, firmware 001): " + verstaerker +
                      " (version 002): accepted"}));

    // The ambiguous model is refused, which the exit code says, and the other models go on.
    ConsoleProgram update;
    EXPECT_EQ(RunConsole(update, "update \"" + folder.Path() + "\" --all --yes"), kRefused)
        << update.Errors();
    EXPECT_TRUE(Contains(update.Output(), "refused: " + ambiguous)) << update.Output();
    ASSERT_TRUE(m_units.WaitEvent(5, "close bytes=" + std::to_string(8 + newest.size())));
    EXPECT_TRUE(m_units.Received(5) == "ver\r" + UpdatedWith(newest));
    ASSERT_TRUE(m_units.WaitEvent(9, "close bytes=" + std::to_string(8 + fourth.size())));
    EXPECT_TRUE(m_units.Received(9) == "ver\r" + UpdatedWith(fourth));
    for (const int port : {6, 7, 8})
        EXPECT_FALSE(Programmed(port)) << port;
}

// The --verify cases shared with the native suite, one a line: name, the unit's conf lines
// (separated by ';'), the wait's limit in ms ("-": the usual one), exit code, the unit's result.
std::vector<std::vector<std::string>> VerifyCases() {
    std::vector<std::vector<std::string>> cases = CaseRows(kVerifyCases);
    for (std::vector<std::string>& columns : cases)
        std::replace(columns[1].begin(), columns[1].end(), ';', '\n');
    return cases;
}

TEST_F(Console, VerifyAsksTheUnitForTheNewVersionAfterTheLastByte) {
    Units({{5, "0105", ""}});
    TempFile firmware(FirmwareImage(16 * 1024, "01", "06"), ".ace");
    const std::vector<std::vector<std::string>> cases = VerifyCases();
    ASSERT_EQ(cases.size(), 3u);
    for (const std::vector<std::string>& c : cases) {
        const std::string& name = c[0];
        const bool usualLimit = c[2] == "-";
        const DWORD exitCode = std::stoul(c[3]);
        ASSERT_TRUE(m_units.Configure(5, "reply=0105\n" + c[1]));
        m_units.ClearReceived(5);
        ::SetEnvironmentVariableA("ORVANE_VERIFY_LIMIT_MS", usualLimit ? nullptr : c[2].c_str());
        ConsoleProgram run;
        const ULONGLONG started = ::GetTickCount64();
        EXPECT_EQ(RunConsole(run, "update \"" + firmware.Path() + "\" --port COM5 --yes --verify"),
                  exitCode)
            << name << ": " << run.Output() << run.Errors();
        const ULONGLONG took = ::GetTickCount64() - started;
        ::SetEnvironmentVariableA("ORVANE_VERIFY_LIMIT_MS", nullptr);
        EXPECT_TRUE(Contains(run.Output(), "COM5: sent; asking the unit for version 006\r\n"))
            << name << ": " << run.Output();
        if (exitCode == 0) {
            EXPECT_EQ(run.Errors(), "");
            EXPECT_TRUE(Contains(run.Output(), "s), version 006 confirmed\r\n")) << run.Output();
            // The unit restarts for 1.5 s.
            EXPECT_GT(took, 1500u) << name;
        } else {
            EXPECT_EQ(run.Errors(), "orvane-update: COM5: " + c[4] + "\r\n") << name;
            EXPECT_GT(took, std::stoul(c[2])) << name;
        }
        // Asked again on the port opened anew, and the file sent once.
        const std::string events = m_units.Events(5);
        const std::string after = events.substr(events.find(" firmware=16384 ") + 1);
        EXPECT_GE(SimEquipment::CountEventLines(after, "open"), 2) << name << ": " << events;
        EXPECT_EQ(SimEquipment::CountEventLines(events, "pgm"), 1) << name;
    }
}

TEST_F(Console, RecordAppendsOneRowPerUnitAsTextASpreadsheetCannotRun) {
    // Texts from the device that a spreadsheet would run, or that need quoting.
    Units({{5, "0105", "updated_reply=0106", "=T5", "Amp, rev B"}, {6, "0203", "", "@T6", ""}});
    const std::string image = FirmwareImage(8192, "01", "06");
    TempFile firmware(image, ".ace");
    TempFolder records("records");
    const std::string record = records.Path() + "\\bench.csv";
    Sha256Digest sha;
    sha.Add(image.data(), image.size());
    const std::string digest = sha.Finish();
    const std::string update =
        "update \"" + firmware.Path() + "\" --all --yes --verify --record \"" + record + "\"";
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(m_units.Configure(5, "reply=0105\nupdated_reply=0106"));
        ConsoleProgram program;
        EXPECT_EQ(RunConsole(program, update), 0u) << program.Output() << program.Errors();
    }
    const std::string text = ReadWholeFile(record);
    const std::string header = "time,host,port,serial,product,model,old version,firmware file,"
                               "sha256,new version,result,bytes,seconds,confirmed\r\n";
    ASSERT_EQ(text.compare(0, header.size(), header), 0) << text;
    // Each row after its time and host; the seconds of the updated unit vary.
    std::vector<std::string> rows;
    for (size_t at = header.size(); at < text.size();) {
        const size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << text;
        const std::string row = text.substr(at, end - at);
        const size_t afterHost = row.find(',', row.find(',') + 1);
        EXPECT_EQ(row.find('T'), 10u) << row; // 2026-12-07T18:30:05Z
        rows.push_back(row.substr(afterHost + 1));
        at = end + 2;
    }
    const std::string file = firmware.Path() + "," + digest + ",006,";
    const std::string skipped = "COM6,'@T6,Unit 0203,2,003," + file +
                                "skipped: This file is not meant for the connected equipment,0,,no";
    const std::string updated =
        "COM5,'=T5,\"Amp, rev B\",1,005," + file + "\"updated, version 006 confirmed\",8192,";
    ASSERT_EQ(rows.size(), 4u) << text;
    for (const size_t first : {0u, 2u}) {
        EXPECT_EQ(rows[first], skipped);
        EXPECT_EQ(rows[first + 1].rfind(updated, 0), 0u) << rows[first + 1];
        EXPECT_EQ(rows[first + 1].substr(rows[first + 1].size() - 4), ",yes");
    }

    // Two programs at once, each making the same new file: one header, both rows whole.
    TempFile older(FirmwareImage(4096, "01", "05"), ".ace");
    for (int round = 0; round < 3; ++round) {
        const std::string shared = records.Path() + "\\shared-" + std::to_string(round) + ".csv";
        ConsoleProgram first, second;
        for (const auto& [program, port] : {std::pair{&first, "COM5"}, std::pair{&second, "COM6"}})
            ASSERT_TRUE(program->Start("update \"" + older.Path() + "\" --port " + port +
                                       " --yes --record \"" + shared + "\""));
        for (ConsoleProgram* program : {&first, &second}) {
            ASSERT_TRUE(program->Finish());
            EXPECT_EQ(program->ExitCode(), kRefused) << program->Errors();
        }
        const std::vector<std::string> lines = Lines(ReadWholeFile(shared));
        ASSERT_EQ(lines.size(), 3u) << ReadWholeFile(shared);
        EXPECT_EQ(lines[0] + "\r\n", header);
        for (const size_t row : {1u, 2u})
            EXPECT_TRUE(Contains(lines[row], ",refused: ")) << lines[row];
    }

    // A record that cannot be written stops the run before any unit is asked.
    ASSERT_TRUE(m_units.Configure(5, "reply=0105"));
    m_units.ClearReceived(5);
    for (const std::string& record : {std::string("C:\\no\\such\\bench.csv"), records.Path()}) {
        ConsoleProgram unwritable;
        EXPECT_EQ(RunConsole(unwritable, "update \"" + firmware.Path() +
                                             "\" --port COM5 --yes --record \"" + record + "\""),
                  kUsage);
        EXPECT_TRUE(Contains(unwritable.Errors(), "orvane-update: not started: --record cannot "))
            << unwritable.Errors();
    }
    EXPECT_EQ(m_units.Received(5), "");
}

// watch, with bridges that appear in and vanish from the library's description while the
// program runs: each unit's port is there from the start, its bridge only once it is attached.
class Watch : public Console {
  protected:
    void Bench(const std::vector<UnitSetup>& units) {
        m_setups = units;
        Units(units);
    }
    // The bridges attached from now on, in index order. The description is written whole: the
    // library cannot read it while it is written and keeps the bridges it read last.
    void Attach(const std::vector<int>& ports) {
        std::string bridges;
        for (const int port : ports)
            for (const UnitSetup& unit : m_setups)
                if (unit.port == port)
                    bridges += "product=\"Unit " + unit.reply + "\" serial=T" +
                               std::to_string(port) + "\n";
        m_bridges.Write(bridges);
    }
    // The event lines, their time cut off, that start with prefix.
    std::vector<std::string> Events(const std::string& prefix) const {
        std::vector<std::string> events;
        for (const std::string& line : Lines(m_program.Output()))
            if (line.size() > 21 && line.compare(21, prefix.size(), prefix) == 0)
                events.push_back(line.substr(21));
        return events;
    }
    bool WaitFor(const std::string& prefix, size_t count = 1, DWORD limitMs = 20000) const {
        const ULONGLONG end = ::GetTickCount64() + limitMs;
        while (Events(prefix).size() < count && ::GetTickCount64() < end)
            ::Sleep(50);
        return Events(prefix).size() >= count;
    }
    int Sessions(int port) const {
        return SimEquipment::CountEventLines(m_units.Events(port), "open");
    }

    std::vector<UnitSetup> m_setups;
};

TEST_F(Watch, EachUnitIsUpdatedOncePerPlugInAndTheOthersAreReported) {
    Bench({{5, "0105", "xonxoff=1"},
           {6, "0203", ""},
           {7, "0107", ""},
           {8, "0106", ""},
           {9, "0105", ""}});
    Attach({5, 6, 7, 8});
    const std::string image = FirmwareImage(32 * 1024, "01", "06");
    TempFile firmware(image, ".ace");
    ASSERT_TRUE(m_program.Start("watch \"" + firmware.Path() + "\" --yes", true));
    ASSERT_TRUE(WaitFor("updated COM5 ")) << m_program.Output();
    ASSERT_TRUE(WaitFor("refused COM8 ")) << m_program.Output();
    for (const std::string& line : std::vector<std::string>{
             "found COM5 (Unit 0105, serial T5, model 1, firmware 005)",
             "updated COM5 (serial T5): " + std::to_string(image.size()) + " bytes in ",
             "refused COM6 (serial T6): This file is not meant for the connected equipment",
             "refused COM7 (serial T7): This file version is older than the current firmware",
             "refused COM8 (serial T8): Your equipment already has the latest firmware "
             "installed"})
        EXPECT_EQ(Events(line).size(), 1u) << line << "\n" << m_program.Output();

    // Plugged in later: noticed within a second and updated.
    const ULONGLONG plugged = ::GetTickCount64();
    Attach({5, 6, 7, 8, 9});
    ASSERT_TRUE(m_units.WaitEvent(9, "open", 1000)) << m_units.Events(9);
    EXPECT_LT(::GetTickCount64() - plugged, 1000u);
    ASSERT_TRUE(WaitFor("updated COM9 ")) << m_program.Output();

    // Left plugged in: a second of looks later no port has been opened again.
    ::Sleep(1000);
    for (const auto& [port, sessions] :
         std::vector<std::pair<int, int>>{{5, 2}, {6, 1}, {7, 1}, {8, 1}, {9, 2}})
        EXPECT_EQ(Sessions(port), sessions) << port << ": " << m_units.Events(port);
    EXPECT_TRUE(m_units.Received(5) == UpdatedWith(image));

    // Unplugged and plugged back: handled again.
    Attach({5, 6, 7, 8});
    ASSERT_TRUE(WaitFor("unplugged COM9 (serial T9)")) << m_program.Output();
    Attach({5, 6, 7, 8, 9});
    ASSERT_TRUE(WaitFor("updated COM9 ", 2)) << m_program.Output();
    ASSERT_TRUE(m_units.WaitEvent(9, "close bytes="));

    ASSERT_TRUE(m_program.Interrupt());
    ASSERT_TRUE(m_program.Finish(10000));
    EXPECT_EQ(m_program.ExitCode(), 0u) << m_program.Output() << m_program.Errors();
    EXPECT_EQ(m_program.Errors(), "");
    const std::vector<std::string> lines = Lines(m_program.Output());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Totals: 3 updated, 1 up to date, 2 refused, 0 failed");
    EXPECT_TRUE(m_units.WaitEvent(5, "close bytes=" + std::to_string(8 + image.size()) +
                                         " firmware=" + std::to_string(image.size()) +
                                         " xonxoff=1"))
        << m_units.Events(5);
}

TEST_F(Watch, CtrlCDuringTwoTransfersPutsBothLinesBackAndExits130) {
    Bench({{5, "0105", "mode=paced\npaced_rate=16384\nxonxoff=1"},
           {6, "0105", "mode=paced\npaced_rate=16384\nxonxoff=1"}});
    const std::string image = FirmwareImage(256 * 1024, "01", "08");
    TempFile firmware(image, ".ace");
    ASSERT_TRUE(m_program.Start("watch \"" + firmware.Path() + "\" --yes", true));
    for (const int port : {5, 6})
        ASSERT_TRUE(m_units.WaitReceived(port, 4 + 4 + 16 * 1024, 20000)) << m_units.Events(port);
    ASSERT_TRUE(m_program.Interrupt()) << ::GetLastError();
    ASSERT_TRUE(m_program.Finish(10000));
    EXPECT_EQ(m_program.ExitCode(), kCancelled) << m_program.Output() << m_program.Errors();
    for (const int port : {5, 6}) {
        const std::string com = "COM" + std::to_string(port);
        EXPECT_EQ(Events("cancelled " + com + " ").size(), 1u) << m_program.Output();
        ASSERT_TRUE(m_units.WaitEvent(port, "close bytes=")) << m_units.Events(port);
        const std::string events = m_units.Events(port);
        EXPECT_TRUE(Contains(events.substr(events.rfind("close bytes=")), "xonxoff=1")) << events;
        EXPECT_LT(m_units.Received(port).size(), 4 + 4 + image.size() / 2);
    }
    const std::vector<std::string> lines = Lines(m_program.Output());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Totals: 0 updated, 0 up to date, 0 refused, 0 failed, 2 cancelled");
}

} // namespace

// Wine has no driver service of the bridge maker: the driver's check fails, with its fix.
TEST_F(Console, DoctorNamesTheUnitItCanUpdateTheOneItCannotAndTheMissingDriver) {
    Units({{5, "0105", ""}, {7, "0105", "mode=silent", "", "Orvane Unit 0105"}});
    EXPECT_EQ(RunConsole(m_program, "doctor"), 0u) << m_program.Errors();
    const std::string report = m_program.Output();
    for (const char* part :
         {"ok    program: 64-bit: it needs the 64-bit bridge library\r\n",
          "FAIL  driver: the bridge's driver service silabser is not installed\r\n"
          "      fix: install the bridge maker's USB to UART driver, then plug the unit in "
          "again\r\n",
          "ok    bridges: 2 bridge(s) found\r\n",
          "ok    unit: COM5 (Unit 0105, serial T5, model 1, firmware 005)\r\n",
          "FAIL  unit: COM7 (Orvane Unit 0105, serial T7, model unknown, firmware unknown): the "
          "unit did not answer the version query\r\n",
          "1 of 2 units can be updated\r\n"})
        EXPECT_TRUE(Contains(report, part)) << part << "\n" << report;

    ConsoleProgram json;
    EXPECT_EQ(RunConsole(json, "doctor --json"), 0u) << json.Errors();
    EXPECT_TRUE(Contains(json.Output(), "{\"check\": \"summary\", \"units\": 2, \"updatable\": 1, "
                                        "\"exit\": 0}"))
        << json.Output();
}
