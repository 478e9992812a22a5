#include "cli/UnitUpdate.h"

#include "cli/UnitText.h"
#include "common/Clock.h"
#include "text/Messages.h"

#include <algorithm>
#include <utility>

namespace {
// How often a wait between two questions looks at keepAsking.
constexpr std::uint32_t kAskingSliceMs = 50;
} // namespace

Confirmation ConfirmVersion(const Unit& unit, int version, const ConfirmLimits& limits,
                            const std::function<bool()>& keepAsking) {
    Confirmation confirmation;
    const EquipmentFinder finder;
    const std::uint64_t start = MonotonicMs();
    for (std::uint64_t next = start;;) {
        for (std::uint64_t now = MonotonicMs(); now < next; now = MonotonicMs()) {
            if (!keepAsking()) {
                confirmation.cancelled = true;
                return confirmation;
            }
            PauseMs(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(kAskingSliceMs, next - now)));
        }
        Unit asked = unit;
        asked.answered = false;
        finder.Query(asked);
        if (asked.answered) {
            confirmation.answered = true;
            confirmation.last = asked.reply;
            if (InstalledOf(asked).version == version) {
                confirmation.confirmed = true;
                return confirmation;
            }
        }
        const std::uint64_t now = MonotonicMs();
        next = std::max(next + limits.intervalMs, now);
        if (next - start > limits.limitMs)
            return confirmation;
    }
}

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

std::string UnitUpdate::ResultText() const {
    switch (m_outcome) {
    case UnitOutcome::Failed:
        return "failed: " + m_failure;
    case UnitOutcome::Cancelled:
        return "cancelled: may need the update again";
    default:
        return Confirming() ? ConfirmationText(m_confirmation, m_confirmVersion) : "updated";
    }
}

std::string UnitUpdate::ConfirmedText() const {
    if (!Confirming())
        return "";
    return m_confirmation.confirmed ? "yes" : "no";
}

void UnitUpdate::ConfirmAfter(int version, const ConfirmLimits& limits) {
    m_confirmVersion = version;
    m_confirmLimits = limits;
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
    if (outcome == UnitOutcome::Updated && Confirming()) {
        m_console.Print(PortText(m_unit) + ": sent; asking the unit for version " +
                        ThreeDigits(m_confirmVersion));
        m_confirmation = ConfirmVersion(m_unit, m_confirmVersion, m_confirmLimits,
                                        [] { return !Console::CancelRequested(); });
    }
    m_outcome = outcome;
    m_finished.Set();
}
