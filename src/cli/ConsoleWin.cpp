#include "cli/Console.h"

#include "common/Clock.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const kLineEnd = "\r\n";

namespace {

// The handler routine gets no context from the system, so the flag it raises, and the event
// set while no transfer runs, are the state the program keeps outside an object.
std::atomic<bool> g_cancelRequested{false};
HANDLE g_transfersEnded = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    g_cancelRequested = true;
    // A console closed, a logoff or a shutdown: the system ends the process when this returns,
    // so the transfers get the time to cancel and put their lines back first.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && g_transfersEnded)
        ::WaitForSingleObject(g_transfersEnded, kEndingGraceMs);
    return TRUE;
}

bool IsTerminal(HANDLE stream) {
    DWORD mode = 0;
    return stream != INVALID_HANDLE_VALUE && stream && ::GetConsoleMode(stream, &mode);
}

} // namespace

struct Console::Native {
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE errors = ::GetStdHandle(STD_ERROR_HANDLE);
    UINT codePage = ::GetConsoleOutputCP(); // the console's own, put back at the end; 0: none
    DWORD outputMode = 0;                   // the output's mode, put back at the end
    bool modeChanged = false;
};

Console::Console() : m_native(std::make_unique<Native>()) {
    const char* term = std::getenv("TERM");
    m_outputIsTerminal = IsTerminal(m_native->output) && !(term && std::strcmp(term, "dumb") == 0);
    // Several progress lines need the cursor moved up, which the console does once it is asked
    // to take escape sequences.
    if (m_outputIsTerminal && ::GetConsoleMode(m_native->output, &m_native->outputMode)) {
        m_cursorMoves = (m_native->outputMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
                        ::SetConsoleMode(m_native->output,
                                         m_native->outputMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        m_native->modeChanged =
            m_cursorMoves && !(m_native->outputMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    m_startMs = MonotonicMs();
    // Paths and product texts are UTF-8 (the manifest makes it the program's code page).
    ::SetConsoleOutputCP(CP_UTF8);
}

Console::~Console() {
    if (m_native->codePage)
        ::SetConsoleOutputCP(m_native->codePage);
    if (m_native->modeChanged)
        ::SetConsoleMode(m_native->output, m_native->outputMode);
}

unsigned Console::SystemColumns() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(m_native->output, &info))
        return 0;
    return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool Console::InputIsTerminal() const {
    return IsTerminal(::GetStdHandle(STD_INPUT_HANDLE));
}

void Console::Write(Stream stream, const std::string& text) {
    const HANDLE handle = stream == Stream::Output ? m_native->output : m_native->errors;
    DWORD written = 0;
    if (handle && handle != INVALID_HANDLE_VALUE)
        ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool Console::ReadInput(char& byte) {
    DWORD read = 0;
    return ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read == 1;
}

void Console::CatchCancel() {
    g_transfersEnded = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    // A process started in a group of its own has Ctrl+C ignored until it says otherwise.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Console::CancelRequested() {
    return g_cancelRequested;
}

std::string Console::LocalTime() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

void Console::TransfersRunning(bool running) {
    if (!g_transfersEnded)
        return;
    if (running)
        ::ResetEvent(g_transfersEnded);
    else
        ::SetEvent(g_transfersEnded);
}
