#include "cli/UnitUpdate.h"

#include "text/Messages.h"

#include <utility>

std::string PortName(int port) {
    return "COM" + std::to_string(port);
}

// Follows the transfer for the progress display, prints a line at every tenth of the file when
// the output is not a terminal, and stops it once Ctrl+C was pressed.
class UnitUpdate::Observer : public TransferObserver {
  public:
    explicit Observer(UnitUpdate& update) : m_update(update) {}

    void Starting(DWORD total) override { m_update.m_total = total; }
    bool Sending() override { return !Console::CancelRequested(); }
    bool Written(DWORD done, DWORD total) override {
        m_update.m_done = done;
        if (!m_update.m_console.OutputIsTerminal()) {
            const DWORD tenth =
                total ? static_cast<DWORD>(static_cast<unsigned long long>(done) * 10 / total) : 10;
            if (tenth > m_tenthsShown) {
                m_tenthsShown = tenth;
                m_update.m_console.Print(PortName(m_update.m_unit.port) + ": " +
                                         std::to_string(done) + " of " + std::to_string(total) +
                                         " bytes (" + std::to_string(tenth * 10) + "%)");
            }
        }
        return !Console::CancelRequested();
    }
    bool Waiting() override { return !Console::CancelRequested(); }

  private:
    UnitUpdate& m_update;
    DWORD m_tenthsShown = 0;
};

UnitUpdate::UnitUpdate(const Unit& unit, std::string path, Console& console, HANDLE finished,
                       const TransferOptions& options)
    : m_unit(unit), m_path(std::move(path)), m_console(console), m_finished(finished),
      m_options(options) {}

UnitUpdate::~UnitUpdate() {
    Join();
}

bool UnitUpdate::Start() {
    m_startTick = ::GetTickCount64();
    m_thread = ::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (!m_thread) {
        m_failure = "no thread for the transfer: " + SystemErrorText(::GetLastError());
        m_endTick = ::GetTickCount64();
        m_outcome = UnitOutcome::Failed;
        ::SetEvent(m_finished);
        return false;
    }
    return true;
}

void UnitUpdate::Join() {
    if (m_thread) {
        ::WaitForSingleObject(m_thread, INFINITE);
        ::CloseHandle(m_thread);
        m_thread = nullptr;
    }
}

DWORD UnitUpdate::ElapsedMs() const {
    const ULONGLONG end = m_endTick ? m_endTick.load() : ::GetTickCount64();
    return m_startTick ? static_cast<DWORD>(end - m_startTick) : 0;
}

DWORD WINAPI UnitUpdate::ThreadMain(void* self) {
    static_cast<UnitUpdate*>(self)->Run();
    return 0;
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
        } else if (const LineResult connected = line.Open(m_unit.port); !connected) {
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
    m_endTick = ::GetTickCount64();
    m_outcome = outcome;
    ::SetEvent(m_finished);
}
