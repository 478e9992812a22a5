#include "update/UpdateSession.h"

#include "common/Sha256Digest.h"
#include "firmware/FirmwareFile.h"

#include <vector>

namespace {

SessionResult Failed(SessionError step, SystemError error) {
    SessionResult result;
    result.failed = step;
    result.systemError = error;
    return result;
}

// The whole file, read once; a file above the limit is refused before it is read.
SessionResult ReadImage(const CheckedFile& checked, std::uint32_t limit,
                        std::vector<std::uint8_t>& image) {
    FirmwareFile file;
    if (const FirmwareResult opened = file.Open(checked.path.c_str(), FileSharing::Readers);
        !opened)
        return Failed(SessionError::FileOpen, opened.systemError);
    std::uint32_t size = 0;
    if (const FirmwareResult sized = file.Size(size); !sized)
        return Failed(sized.failed == FirmwareError::TooLarge ? SessionError::FileTooLarge
                                                              : SessionError::FileRead,
                      sized.systemError);
    if (size > limit)
        return Failed(SessionError::FileTooLarge, kErrorTooLarge);
    // One byte more than the size is asked for, so that a file that grew is seen to differ.
    image.resize(static_cast<size_t>(size) + 1);
    std::uint32_t filled = 0;
    if (const FirmwareResult got =
            file.ReadUpTo(image.data(), static_cast<std::uint32_t>(image.size()), filled);
        !got)
        return Failed(SessionError::FileRead, got.systemError);
    image.resize(filled);
    return {};
}

std::string DigestOf(const std::vector<std::uint8_t>& bytes) {
    Sha256Digest digest;
    digest.Add(bytes.data(), bytes.size());
    return digest.Finish();
}

// Passes the transfer's events on and keeps how much of the file the unit took.
class Counting : public TransferObserver {
  public:
    explicit Counting(TransferObserver& observer) : m_observer(observer) {}
    bool Starting(std::uint32_t total) override { return m_observer.Starting(total); }
    bool Sending() override {
        m_sending = true;
        return m_observer.Sending();
    }
    bool Written(std::uint32_t done, std::uint32_t total) override {
        m_done = done;
        return m_observer.Written(done, total);
    }
    bool Waiting() override { return m_observer.Waiting(); }
    void Ending() override { m_observer.Ending(); }

    bool m_sending = false;
    std::uint32_t m_done = 0;

  private:
    TransferObserver& m_observer;
};

SessionResult SendOnLine(SerialLine& line, const std::vector<std::uint8_t>& image,
                         const std::string& sha256, const CheckedUnit& unit,
                         TransferObserver& observer, const SessionOptions& options) {
    if (const LineResult opened = line.Open(unit.device); !opened) {
        SessionResult result = Failed(SessionError::LineOpen, opened.systemError);
        result.line = opened.failed;
        return result;
    }
    if (options.serialOnPort) {
        if (const std::optional<std::string> found = options.serialOnPort(unit.device);
            found && *found != unit.serial) {
            SessionResult result = Failed(SessionError::OtherBridge, kNoSystemError);
            result.foundSerial = *found;
            return result;
        }
    }
    VersionReply reply;
    const LineResult asked = QueryVersion(line, reply);
    if (unit.answered && !asked)
        return Failed(SessionError::NoAnswer, asked.systemError);
    if (asked && (!unit.answered || reply.deviceId != unit.reply.deviceId ||
                  reply.version != unit.reply.version)) {
        SessionResult result = Failed(SessionError::OtherUnit, kNoSystemError);
        result.answer = reply;
        return result;
    }
    Counting counting(observer);
    const TransferResult sent = SendFirmwareImage(line, image, counting, options.transfer);
    SessionResult result;
    if (!sent) {
        result = Failed(sent.failed == TransferError::Cancelled ? SessionError::Cancelled
                                                                : SessionError::Transfer,
                        sent.systemError);
        result.transfer = sent.failed;
    }
    result.sent = counting.m_done;
    if (counting.m_sending)
        result.sha256 = sha256;
    return result;
}

} // namespace

SessionResult RunUpdateSession(const CheckedFile& file, const CheckedUnit& unit,
                               TransferObserver& observer, const SessionOptions& options) {
    std::vector<std::uint8_t> image;
    if (SessionResult read = ReadImage(file, options.fileLimit, image); !read)
        return read;
    const std::string sha256 = DigestOf(image);
    if (image.size() != file.size || sha256 != file.sha256)
        return Failed(SessionError::FileChanged, kNoSystemError);
    SerialLine line(options.probe);
    SessionResult result = SendOnLine(line, image, sha256, unit, observer, options);
    // The line's settings go back and the port closes here, whatever the end.
    line.Close();
    return result;
}
