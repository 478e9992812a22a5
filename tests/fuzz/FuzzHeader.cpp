// The firmware header's two fields and the compatibility verdict. The fields are judged against
// an oracle written from the header's rule (as sscanf "%d" reads at most two characters), and
// the verdicts against what they promise: no verdict but the window's Shift ever accepts a file
// of another model or with a field that is not a number, and an accepted file is newer unless
// the downgrade was asked for.

#include "FuzzCheck.h"
#include "firmware/Compatibility.h"
#include "firmware/HeaderField.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <optional>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<int> ExpectedField(const char* field) {
    const char text[2] = {field[0], field[0] ? field[1] : '\0'};
    int at = 0;
    while (at < 2 && IsBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < 2 && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    if (at == 2 || text[at] < '0' || text[at] > '9')
        return std::nullopt;
    int value = 0;
    while (at < 2 && text[at] >= '0' && text[at] <= '9')
        value = value * 10 + (text[at++] - '0');
    return negative ? -value : value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const InstalledFirmware installed{input.ConsumeIntegral<signed char>(),
                                      input.ConsumeIntegral<signed char>()};
    const bool shift = input.ConsumeBool();
    const bool allowDowngrade = input.ConsumeBool();
    const bool hasSlot = input.ConsumeBool();
    FirmwareHeader header{};
    const std::vector<char> bytes = input.ConsumeRemainingBytes<char>();
    // The bytes land around the fields, so that the fuzzer reaches them at once.
    for (size_t i = 0; i < bytes.size() && i < 8; ++i)
        header[kDeviceIdOffset - 2 + i] = bytes[i];
    for (size_t i = 8; i < bytes.size() && i - 8 < kHeaderSize; ++i)
        header[(i - 8 + kDeviceIdOffset + 6) % kHeaderSize] = bytes[i];

    const HeaderFields fields = ReadHeaderFields(header);
    Require(fields.deviceId == ExpectedField(header.data() + kDeviceIdOffset),
            "the device ID field reads as sscanf reads two characters",
            HexOf(std::string(header.data() + kDeviceIdOffset, 2)));
    Require(fields.version == ExpectedField(header.data() + kVersionOffset),
            "the version field reads as sscanf reads two characters",
            HexOf(std::string(header.data() + kVersionOffset, 2)));
    Require(!fields.deviceId || (*fields.deviceId >= -9 && *fields.deviceId <= 99),
            "a two-character field is between -9 and 99");

    const bool numbers = fields.deviceId && fields.version;
    const bool sameModel = numbers && *fields.deviceId == installed.deviceId;
    const bool newer = numbers && *fields.version > installed.version;

    const Verdict window = CheckCompatibility(fields, hasSlot ? &installed : nullptr, shift);
    if (shift)
        Require(window == Verdict::Accepted, "Shift accepts every file unread");
    else if (window == Verdict::Accepted)
        Require(hasSlot && sameModel && newer,
                "the window accepts only a newer file of the unit's model");
    if (!shift)
        Require((window == Verdict::BadField) == !numbers, "a field that is no number is refused");

    bool overridden = false;
    const Verdict console = CheckAllowingDowngrade(fields, installed, allowDowngrade, &overridden);
    Require(console != Verdict::Accepted || sameModel,
            "--allow-downgrade never accepts another model's file or a bad field");
    Require(console != Verdict::Accepted || newer || allowDowngrade,
            "an older or the same version is accepted only when asked for");
    Require(!overridden || (allowDowngrade && console == Verdict::Accepted && !newer),
            "overridden says that the downgrade was needed");
    Require(console == Verdict::Accepted ||
                console == CheckCompatibility(fields, &installed, false),
            "a refusal is the window's own verdict");
    return 0;
}
