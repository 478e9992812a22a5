// The unit's reply to "ver\r", over a real pseudo-terminal: a peer thread takes the command and
// answers with the input's bytes, whole or in two pieces. The query must send exactly "ver\r",
// answer only with two bytes, take them as they came, and the unit's words and verdict must
// follow from them: the model and version as signed bytes, and no file of another model
// accepted.

#include "FuzzCheck.h"
#include "cli/UnitText.h"
#include "device/UnitCommands.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>

namespace {

struct Peer {
    int master = -1;
    int flusher = -1; // another descriptor of the line, to empty its input between runs
    std::string path;
    SerialLine line;
};

Peer& ThePeer() {
    static Peer* peer = [] {
        auto* made = new Peer;
        int slave = -1;
        char name[128] = {};
        Require(::openpty(&made->master, &slave, name, nullptr, nullptr) == 0, "openpty");
        made->path = name;
        made->flusher = slave;
        termios raw{};
        ::tcgetattr(made->master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(made->master, TCSANOW, &raw);
        Require(static_cast<bool>(made->line.Open(made->path, {460800, false})), "open the line");
        return made;
    }();
    return *peer;
}

// What the unit received before it answers; at most the four bytes of a command.
std::string TakeCommand(int master) {
    std::string got;
    while (got.size() < kCommandLength) {
        pollfd wait{master, POLLIN, 0};
        if (::poll(&wait, 1, 2000) <= 0)
            break;
        char byte[kCommandLength];
        const ssize_t n = ::read(master, byte, kCommandLength - got.size());
        if (n <= 0)
            break;
        got.append(byte, static_cast<size_t>(n));
    }
    return got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    Peer& peer = ThePeer();
    FuzzedDataProvider input(data, size);
    const bool split = input.ConsumeBool();
    // A short answer costs the query's whole read limit: one input in 64 has one. An answer
    // longer than the input is made up with NULs.
    const size_t length = input.ConsumeIntegralInRange(0, 63) == 63
                              ? input.ConsumeIntegralInRange(0, 1)
                              : input.ConsumeIntegralInRange(2, 6);
    std::string reply = input.ConsumeBytesAsString(length);
    reply.resize(length, '\0');
    const std::string fields = input.ConsumeBytesAsString(4);

    std::string received;
    std::thread unit([&] {
        received = TakeCommand(peer.master);
        const size_t first = split ? reply.size() / 2 : reply.size();
        if (first > 0)
            Require(::write(peer.master, reply.data(), first) == static_cast<ssize_t>(first),
                    "the unit's answer written");
        if (first < reply.size()) {
            ::usleep(2000);
            Require(::write(peer.master, reply.data() + first, reply.size() - first) ==
                        static_cast<ssize_t>(reply.size() - first),
                    "the answer's second piece written");
        }
    });
    VersionReply answer;
    const LineResult result = QueryVersion(peer.line, answer);
    unit.join();
    ::tcflush(peer.flusher, TCIFLUSH);

    Require(received == "ver\r", "the query sends exactly ver\\r", HexOf(received));
    Require(static_cast<bool>(result) == (reply.size() >= kVersionReplyLength),
            "the query answers when two bytes came, and only then");
    Unit unit_;
    unit_.device = peer.path;
    unit_.queried = true;
    unit_.portOpened = LineResult::Success();
    unit_.answered = static_cast<bool>(result);
    unit_.reply = answer;
    if (!result) {
        Require(answer.deviceId == 0xFF && answer.version == 0xFF,
                "a reply not had leaves the unit unknown");
        Require(FirmwareText(unit_) == "unknown" && ModelText(unit_) == "unknown",
                "an unanswered unit's firmware is unknown");
        Require(!WhyNotChecked(unit_).empty(), "an unanswered unit is never judged");
        return 0;
    }
    const int model = static_cast<signed char>(reply[0]);
    const int version = static_cast<signed char>(reply[1]);
    Require(answer.deviceId == static_cast<std::uint8_t>(reply[0]) &&
                answer.version == static_cast<std::uint8_t>(reply[1]),
            "the reply's two bytes are taken as they came");
    Require(InstalledOf(unit_).deviceId == model && InstalledOf(unit_).version == version,
            "the model and version are the bytes taken as signed");
    Require(ModelText(unit_) == std::to_string(model), "the model is written as its number");
    Require(std::stoi(FirmwareText(unit_)) == version && FirmwareText(unit_).size() >= 3,
            "the firmware is its version in at least three digits");

    FirmwareHeader header{};
    std::memcpy(header.data() + kDeviceIdOffset, fields.data(), fields.size());
    const HeaderFields read = ReadHeaderFields(header);
    bool overridden = false;
    const std::string refusal = Judge(read, unit_, true, &overridden);
    Require(refusal.empty() == (read.deviceId && read.version && *read.deviceId == model),
            "with the downgrade allowed, a file is accepted exactly when it is the unit's model's",
            HexOf(fields) + "/ " + HexOf(reply));
    return 0;
}
