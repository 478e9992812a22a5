#include "text/Messages.h"

#include <cstdio>

const char* MessageFor(LineError error) {
    switch (error) {
    case LineError::Open:
        return "Error opening Master COM port";
    case LineError::Purge:
        return "Error purging Master COM port";
    case LineError::GetState:
        return "Error getting Master COM port state";
    case LineError::SetState:
        return "Error setting Master COM port state";
    default:
        return "";
    }
}

const char* MessageFor(FirmwareError error) {
    switch (error) {
    case FirmwareError::Open:
        return "Error opening Source File";
    case FirmwareError::Read:
        return "Unable to read from source file";
    case FirmwareError::TooShort:
        return "Source file too short to retrieve header information";
    case FirmwareError::Rewind:
        return "Unable to rewind source file";
    case FirmwareError::TooLarge:
        return "This file is too large to be firmware (4 GB or more)";
    default:
        return "";
    }
}

const char* MessageFor(Verdict verdict) {
    switch (verdict) {
    case Verdict::BadField:
        // Kept on purpose: a bad version field has always been reported in these words too.
        return "Unable to get device ID from file";
    case Verdict::OtherModel:
        return "This file is not meant for the connected equipment";
    case Verdict::Older:
        return "This file version is older than the current firmware";
    case Verdict::SameVersion:
        return "Your equipment already has the latest firmware installed";
    case Verdict::NoSlot:
        return "The file cannot be checked: no equipment on COM0 to COM16 is selected";
    default:
        return "";
    }
}

const char* MessageFor(TransferError error) {
    switch (error) {
    case TransferError::FileSize:
    case TransferError::FileRead:
        return MessageFor(FirmwareError::Read);
    case TransferError::FileTooLarge:
        return MessageFor(FirmwareError::TooLarge);
    case TransferError::ProgramCommand:
        return "Equipment not responding to Program command";
    case TransferError::ChunkWrite:
        return "Error writing data to Master COM port";
    default:
        return "";
    }
}

const char* MessageFor(ChecksumVerdict verdict) {
    switch (verdict) {
    case ChecksumVerdict::Differs:
        return "This file is damaged or is not the one published: its SHA-256 does not match "
               "SHA256SUMS";
    case ChecksumVerdict::NotListed:
        return "This file is not listed in SHA256SUMS";
    default:
        return "";
    }
}

const char* MessageFor(DiscoveryError error) {
    switch (error) {
    case DiscoveryError::LibraryMissing:
        return "Unable to load CP210xManufacturing.dll: no equipment can be found";
    case DiscoveryError::LibraryOtherBitness:
        return sizeof(void*) == 8
                   ? "CP210xManufacturing.dll is a 32-bit library and this is the 64-bit program: "
                     "use the 32-bit program, or the 64-bit library"
                   : "CP210xManufacturing.dll is a 64-bit library and this is the 32-bit program: "
                     "use the 64-bit program, or the 32-bit library";
    default:
        return "";
    }
}

const char* DeviceListNotice(DiscoveryError libraryProblem) {
    if (libraryProblem == DiscoveryError::LibraryOtherBitness)
        return sizeof(void*) == 8
                   ? "Bridges from the system's device list: CP210xManufacturing.dll is 32-bit"
                   : "Bridges from the system's device list: CP210xManufacturing.dll is 64-bit";
    return "Bridges from the system's device list: CP210xManufacturing.dll not loaded";
}

namespace {

std::string WithSystemText(const char* message, SystemError error) {
    return std::string(message) + ": " + SystemErrorText(error);
}

// "model 1, firmware 005", each byte taken as signed, as the window shows them.
std::string AnswerText(const VersionReply& reply) {
    char text[48];
    std::snprintf(text, sizeof(text), "model %d, firmware %03d",
                  static_cast<signed char>(reply.deviceId),
                  static_cast<signed char>(reply.version));
    return text;
}

} // namespace

std::string SessionFailureText(const SessionResult& result, const CheckedUnit& unit) {
    const std::string notChecked = "the unit on " + unit.device + " is not the one checked: ";
    switch (result.failed) {
    case SessionError::FileOpen:
        return WithSystemText(MessageFor(FirmwareError::Open), result.systemError);
    case SessionError::FileRead:
        return WithSystemText(MessageFor(FirmwareError::Read), result.systemError);
    case SessionError::FileTooLarge:
        return "the firmware file is larger than " + std::to_string(kSessionFileLimit >> 20) +
               " MiB, more than any firmware image: nothing was sent";
    case SessionError::FileChanged:
        return "the firmware file changed after it was checked (its bytes are not the ones "
               "checked): nothing was sent; check the file again";
    case SessionError::LineOpen:
        return WithSystemText(MessageFor(result.line), result.systemError);
    case SessionError::OtherBridge:
        return notChecked + "its bridge's serial is \"" + result.foundSerial + "\", not \"" +
               unit.serial + "\"; nothing was sent";
    case SessionError::NoAnswer:
        return "the unit on " + unit.device +
               " did not answer the version query on the opened port; nothing was sent";
    case SessionError::OtherUnit:
        return notChecked + "it answers " + AnswerText(result.answer) +
               (unit.answered ? ", not " + AnswerText(unit.reply)
                              : std::string(", while the unit to recover did not answer")) +
               "; nothing was sent";
    case SessionError::Transfer:
        return WithSystemText(MessageFor(result.transfer), result.systemError);
    default:
        return "";
    }
}

std::string ThreeDigits(int value) {
    char three[16];
    std::snprintf(three, sizeof(three), "%.3d", value);
    return three;
}

std::string AmbiguousModelText(int model, const std::string& one, const std::string& other,
                               int version) {
    return "model " + std::to_string(model) + " is ambiguous: " + one + " and " + other +
           " are both version " + ThreeDigits(version);
}

std::string ConfirmationText(const Confirmation& confirmation, int version) {
    if (confirmation.confirmed)
        return "updated, version " + ThreeDigits(version) + " confirmed";
    std::string why = "the unit did not answer";
    if (confirmation.indistinct && confirmation.sameModel > 1)
        why = "the units cannot be told apart: " + std::to_string(confirmation.sameModel) +
              " units of its model answered";
    else if (confirmation.indistinct)
        why = "the unit cannot be told from others by its bridge's serial";
    else if (!confirmation.otherSerial.empty())
        why = "another unit (serial " + confirmation.otherSerial + ") answered";
    else if (confirmation.answered)
        why = "the unit answered model " +
              std::to_string(static_cast<signed char>(confirmation.last.deviceId)) + ", version " +
              ThreeDigits(static_cast<signed char>(confirmation.last.version));
    return "sent, not confirmed: " + (confirmation.cancelled ? "cancelled; " + why : why);
}

std::string NotAsListedText(const std::string& name, std::uint32_t size, const std::string& sha256,
                            int model, int version, std::uint32_t listedSize,
                            const std::string& listedSha256, int listedModel, int listedVersion) {
    std::string why;
    if (size != listedSize)
        why = "it has " + std::to_string(size) + " bytes, not " + std::to_string(listedSize);
    else if (sha256 != listedSha256)
        why = "its SHA-256 is " + sha256 + ", not " + listedSha256;
    else if (model != listedModel || version != listedVersion)
        why = "its header names model " + std::to_string(model) + ", version " +
              ThreeDigits(version) + ", not model " + std::to_string(listedModel) + ", version " +
              ThreeDigits(listedVersion);
    else
        return "";
    return "The file " + name + " is not the one the catalog lists: " + why;
}

std::string PortPermissionFix(const std::string& group, const std::string& installedRule) {
    const std::string joined = group.empty() || group == "root" ? "dialout" : group;
    return "sudo usermod -aG " + joined +
           " $USER, then log in again (the port's group: the way for a login over ssh and for "
           "a service); " +
           (installedRule.empty()
                ? std::string("or install orvane-update's udev rule, which gives the user at the "
                              "machine's own seat access")
                : "the udev rule (" + installedRule +
                      ") gives access only to the user at the machine's own seat, once the unit "
                      "is plugged in again");
}
