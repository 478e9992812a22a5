#include "cli/UnitUpdate.h"

#include "common/Clock.h"
#include "text/Messages.h"

#include <utility>

// Follows the transfer for the progress display, prints a line at every tenth of the file when
// the output is not a terminal, and stops it once Ctrl+C was pressed.
class UnitUpdate::Observer : public TransferObserver {
  public:
    explicit Observer(UnitUpdate& update) : m_update(update) {}

    // The port has been opened since the last look at the flag, which may have been raised
    // meanwhile.
    bool Starting(std::uint32_t total) override {
        m_update.m_total = total;
        return !Console::CancelRequested();
    }
    bool Sending() override { return !Console::CancelRequested(); }
    bool Written(std::uint32_t done, std::uint32_t total) override {
        m_update.m_done = done;
        if (m_update.m_printTenths && !m_update.m_console.OutputIsTerminal()) {
            const std::uint32_t tenth =
                total ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(done) * 10 / total)
                      : 10;
            if (tenth > m_tenthsShown) {
                m_tenthsShown = tenth;
                m_update.m_console.Print(m_update.m_unit.device + ": " + std::to_string(done) +
                                         " of " + std::to_string(total) + " bytes (" +
                                         std::to_string(tenth * 10) + "%)");
            }
        }
        return !Console::CancelRequested();
    }
    bool Waiting() override { return !Console::CancelRequested(); }

  private:
    UnitUpdate& m_update;
    std::uint32_t m_tenthsShown = 0;
};

UnitUpdate::UnitUpdate(const Unit& unit, std::string path, Console& console, Signal& finished,
                       const TransferOptions& options)
    : m_unit(unit), m_path(std::move(path)), m_console(console), m_finished(finished),
      m_options(options) {}

UnitUpdate::~UnitUpdate() {
    Join();
}

bool UnitUpdate::Start() {
    m_startTick = MonotonicMs();
    if (!m_thread.Start([this] { Run(); })) {
        m_failure = "no thread for the transfer: " + SystemErrorText(LastSystemError());
        m_endTick = MonotonicMs();
        m_outcome = UnitOutcome::Failed;
        m_finished.Set();
        return false;
    }
    return true;
}

void UnitUpdate::Join() {
    m_thread.Join();
}

std::uint32_t UnitUpdate::ElapsedMs() const {
    const std::uint64_t end = m_endTick ? m_endTick.load() : MonotonicMs();
    return m_startTick ? static_cast<std::uint32_t>(end - m_startTick) : 0;
}

void UnitUpdate::Run() {
    UnitOutcome outcome = UnitOutcome::Failed;
    {
        FirmwareFile file;
        SerialLine line;
        if (const FirmwareResult opened = file.Open(m_path.c_str(), FileSharing::Readers);
            !opened) {
            m_failure =
                std::string(MessageFor(opened.failed)) + ": " + SystemErrorText(opened.systemError);
        } else if (const LineResult connected = line.Open(m_unit.device); !connected) {
            m_failure = std::string(MessageFor(connected.failed)) + ": " +
                        SystemErrorText(connected.systemError);
        } else {
            Observer observer(*this);
            const TransferResult sent = SendFirmware(line, file, observer, m_options);
            if (sent)
                outcome = UnitOutcome::Updated;
            else if (sent.failed == TransferError::Cancelled)
                outcome = UnitOutcome::Cancelled;
            else
                m_failure =
                    std::string(MessageFor(sent.failed)) + ": " + SystemErrorText(sent.systemError);
        }
        // The line's settings go back and the port closes here, whatever the end.
        line.Close();
    }
    m_endTick = MonotonicMs();
    m_outcome = outcome;
    m_finished.Set();
}
