#include "support/SessionCases.h"

#include "common/Sha256Digest.h"
#include "firmware/Compatibility.h"
#include "support/FirmwareImage.h"
#include "text/Messages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

constexpr VersionReply kAmplifier5{1, 5};
// A unit that never answered: the reply bytes of one that did not.
constexpr VersionReply kSilent{0xFF, 0xFF};
constexpr std::uint32_t kNoLimit = kSessionFileLimit;

class GoOn : public TransferObserver {
    bool Starting(std::uint32_t) override { return true; }
    bool Sending() override { return true; }
    bool Written(std::uint32_t, std::uint32_t) override { return true; }
    bool Waiting() override { return true; }
};

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const std::string& path, const std::string& bytes, std::ios::openmode mode) {
    std::ofstream out(path, std::ios::binary | mode);
    out << bytes;
}

} // namespace

const SessionCase kSessionCases[] = {
    {"CheckedUnitGetsExactlyTheCheckedBytes", "reply=0105", kAmplifier5, nullptr,
     FileAfterCheck::Kept, kNoLimit, SessionError::None, true, true, ""},
    {"SameBridgeOnThePortIsProgrammed", "reply=0105", kAmplifier5, "ORV1", FileAfterCheck::Kept,
     kNoLimit, SessionError::None, true, true, ""},
    {"FileRewrittenAfterTheCheckIsNotSent", "reply=0105", kAmplifier5, nullptr,
     FileAfterCheck::Rewritten, kNoLimit, SessionError::FileChanged, false, false,
     "the firmware file changed after it was checked"},
    {"FileThatGrewAfterTheCheckIsNotSent", "reply=0105", kAmplifier5, nullptr,
     FileAfterCheck::Grown, kNoLimit, SessionError::FileChanged, false, false, "nothing was sent"},
    {"FileAboveTheLimitIsNotRead", "reply=0105", kAmplifier5, nullptr, FileAfterCheck::Kept, 4096,
     SessionError::FileTooLarge, false, false, "MiB"},
    {"AnotherBridgeOnThePortGetsNothing", "reply=0105", kAmplifier5, "ORV9", FileAfterCheck::Kept,
     kNoLimit, SessionError::OtherBridge, false, false,
     "is not the one checked: its bridge's serial is \"ORV9\", not \"ORV1\""},
    {"AnotherModelOnThePortGetsOnlyTheQuestion", "reply=0207", kAmplifier5, nullptr,
     FileAfterCheck::Kept, kNoLimit, SessionError::OtherUnit, false, true,
     "is not the one checked: it answers model 2, firmware 007, not model 1, firmware 005"},
    {"AnotherVersionOnThePortGetsOnlyTheQuestion", "reply=0106", kAmplifier5, nullptr,
     FileAfterCheck::Kept, kNoLimit, SessionError::OtherUnit, false, true,
     "it answers model 1, firmware 006"},
    {"SilentUnitGetsOnlyTheQuestion", "mode=silent", kAmplifier5, nullptr, FileAfterCheck::Kept,
     kNoLimit, SessionError::NoAnswer, false, true, "did not answer the version query"},
    {"SilentUnitRecoveredGetsTheFileAfterTheQuestion", "mode=silent", kSilent, nullptr,
     FileAfterCheck::Kept, kNoLimit, SessionError::None, true, true, ""},
    {"UnitThatAnswersIsNotTheSilentOneToRecover", "reply=0105", kSilent, nullptr,
     FileAfterCheck::Kept, kNoLimit, SessionError::OtherUnit, false, true,
     "it answers model 1, firmware 005, while the unit to recover did not answer"},
};
const size_t kSessionCaseCount = std::size(kSessionCases);

void RunSessionCase(const SessionCase& c, const std::string& port, const std::string& path,
                    const ReceivedBytes& received) {
    const std::string image = Contents(path);
    ASSERT_GE(image.size(), kHeaderSize);
    FirmwareHeader header;
    std::copy_n(image.begin(), kHeaderSize, header.begin());
    Sha256Digest digest;
    digest.Add(image.data(), image.size());
    const CheckedFile file{path, static_cast<std::uint32_t>(image.size()), digest.Finish(),
                           ReadHeaderFields(header)};
    const CheckedUnit unit{port, "ORV1", c.checked,
                           c.checked.deviceId != kSilent.deviceId ||
                               c.checked.version != kSilent.version};
    if (c.file == FileAfterCheck::Rewritten)
        Write(path, FirmwareImage(image.size(), "02", "09"), std::ios::trunc);
    else if (c.file == FileAfterCheck::Grown)
        Write(path, "more", std::ios::app);

    SessionOptions options;
    options.fileLimit = c.fileLimit;
    if (c.serialShown)
        options.serialOnPort = [&c](const std::string&) {
            return std::optional<std::string>(c.serialShown);
        };
    GoOn observer;
    const SessionResult result = RunUpdateSession(file, unit, observer, options);

    EXPECT_EQ(result.failed, c.expected);
    const std::string expected =
        std::string(c.asked ? "ver\r" : "") + (c.programmed ? "pgm\r" + image : std::string());
    EXPECT_EQ(received(expected.size()), expected);
    EXPECT_EQ(result.sent, c.programmed ? image.size() : 0u);
    EXPECT_EQ(result.sha256, c.programmed ? file.sha256 : "");
    const std::string words = SessionFailureText(result, unit);
    EXPECT_NE(words.find(c.words), std::string::npos) << words;
    EXPECT_EQ(words.empty(), c.expected == SessionError::None) << words;
}
