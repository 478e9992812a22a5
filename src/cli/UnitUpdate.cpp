#include "cli/UnitUpdate.h"

#include "cli/BenchRecord.h"
#include "cli/JsonEvents.h"
#include "cli/UnitText.h"
#include "common/Clock.h"
#include "text/Messages.h"

namespace {

CheckedFile CheckedOf(const CatalogFile& file) {
    return {file.path, file.size, file.sha256, file.fields};
}

CheckedUnit CheckedOf(const Unit& unit) {
    return {unit.device, unit.serial, unit.reply};
}

} // namespace

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
        Console& console = m_update.m_console;
        const std::uint32_t tenth =
            total ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(done) * 10 / total) : 10;
        if (tenth > m_tenthsShown) {
            m_tenthsShown = tenth;
            const Unit& unit = m_update.m_unit;
            console.JsonLine(EventJson(
                "progress", RecordOf(unit, &m_update.m_file, "", done, "", ""),
                {{"total", std::to_string(total)}, {"percent", std::to_string(tenth * 10)}}));
            if (m_update.m_printTenths && console.ProgressAsLines())
                console.Print(unit.device + ": " + std::to_string(done) + " of " +
                              std::to_string(total) + " bytes (" + std::to_string(tenth * 10) +
                              "%)");
        }
        return !Console::CancelRequested();
    }
    bool Waiting() override { return !Console::CancelRequested(); }

  private:
    UnitUpdate& m_update;
    std::uint32_t m_tenthsShown = 0;
};

UnitUpdate::UnitUpdate(const Unit& unit, const CatalogFile& file, AttachedBridges& bridges,
                       Console& console, Signal& finished, const TransferOptions& options)
    : m_unit(unit), m_file(file), m_bridges(bridges), m_console(console), m_finished(finished),
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

UnitProgress UnitUpdate::Progress() const {
    UnitProgress progress;
    progress.who = PortText(m_unit);
    progress.done = m_done;
    progress.total = m_total ? m_total.load() : m_file.size;
    progress.elapsedMs = ElapsedMs();
    if (const std::uint64_t asked = m_confirmTick; asked) {
        progress.confirmingVersion = m_confirmVersion;
        progress.confirmingMs = static_cast<std::uint32_t>(MonotonicMs() - asked);
    }
    if (m_outcome == UnitOutcome::Failed)
        progress.ended = "failed";
    else if (m_outcome == UnitOutcome::Cancelled)
        progress.ended = "cancelled";
    else if (m_outcome == UnitOutcome::Updated)
        progress.ended = !Confirming()              ? "updated"
                         : m_confirmation.confirmed ? "updated, confirmed"
                                                    : "not confirmed";
    return progress;
}

std::uint32_t UnitUpdate::ElapsedMs() const {
    const std::uint64_t end = m_endTick ? m_endTick.load() : MonotonicMs();
    return m_startTick ? static_cast<std::uint32_t>(end - m_startTick) : 0;
}

void UnitUpdate::Run() {
    // Ctrl+C since the last look at the flag: not even the port is opened.
    if (Console::CancelRequested()) {
        m_endTick = MonotonicMs();
        m_outcome = UnitOutcome::Cancelled;
        m_finished.Set();
        return;
    }
    UnitOutcome outcome = UnitOutcome::Failed;
    Observer observer(*this);
    SessionOptions options;
    options.transfer = m_options;
    options.serialOnPort = [this](const std::string& device) { return m_bridges.SerialOn(device); };
    options.probe = m_console.LineTrace();
    const CheckedUnit checked = CheckedOf(m_unit);
    const SessionResult session = RunUpdateSession(CheckedOf(m_file), checked, observer, options);
    m_done = session.sent;
    if (session)
        outcome = UnitOutcome::Updated;
    else if (session.failed == SessionError::Cancelled)
        outcome = UnitOutcome::Cancelled;
    else
        m_failure = SessionFailureText(session, checked);
    m_endTick = MonotonicMs();
    if (outcome == UnitOutcome::Updated && Confirming()) {
        m_confirmTick = MonotonicMs();
        // On a terminal the progress line says it.
        if (!m_console.ProgressInPlace())
            m_console.Print(PortText(m_unit) + ": sent; asking the unit for version " +
                            ThreeDigits(m_confirmVersion));
        m_console.JsonLine(EventJson(
            "confirming", RecordOf(m_unit, &m_file, "", m_done, Seconds(ElapsedMs()), "")));
        m_confirmation = ConfirmVersion(
            checked, m_confirmVersion, m_confirmLimits, [this] { return m_bridges.Look(); },
            [] { return !Console::CancelRequested(); }, EquipmentFinder({}, m_console.LineTrace()));
    }
    m_outcome = outcome;
    m_finished.Set();
}
