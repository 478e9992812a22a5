#include "cli/Console.h"

#include "common/SystemText.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

// The handler routine gets no context from the system, so the flag it raises is the one piece
// of state the program keeps outside an object.
std::atomic<bool> g_cancelRequested{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        g_cancelRequested = true;
        return TRUE;
    }
    return FALSE;
}

bool IsTerminal(HANDLE stream) {
    DWORD mode = 0;
    return stream != INVALID_HANDLE_VALUE && stream && ::GetConsoleMode(stream, &mode);
}

} // namespace

Console::Console()
    : m_output(::GetStdHandle(STD_OUTPUT_HANDLE)), m_errors(::GetStdHandle(STD_ERROR_HANDLE)),
      m_outputIsTerminal(IsTerminal(m_output)) {
    ::InitializeCriticalSection(&m_lock);
    // Paths and product texts are UTF-8 (the manifest makes it the program's code page).
    ::SetConsoleOutputCP(CP_UTF8);
}

Console::~Console() {
    ::DeleteCriticalSection(&m_lock);
}

bool Console::InputIsTerminal() const {
    return IsTerminal(::GetStdHandle(STD_INPUT_HANDLE));
}

void Console::Write(HANDLE stream, const std::string& text) {
    DWORD written = 0;
    if (stream && stream != INVALID_HANDLE_VALUE)
        ::WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Console::ClearProgressLocked() {
    if (m_progressWidth == 0)
        return;
    Write(m_output, "\r" + std::string(m_progressWidth, ' ') + "\r");
    m_progressWidth = 0;
}

void Console::Print(const std::string& line) {
    ::EnterCriticalSection(&m_lock);
    ClearProgressLocked();
    Write(m_output, line + "\r\n");
    ::LeaveCriticalSection(&m_lock);
}

void Console::Error(const std::string& line) {
    ::EnterCriticalSection(&m_lock);
    ClearProgressLocked();
    Write(m_errors, "orvane-update: " + line + "\r\n");
    ::LeaveCriticalSection(&m_lock);
}

void Console::ShowProgress(const std::string& line) {
    ::EnterCriticalSection(&m_lock);
    // Padded over what the previous line left, so no characters of it remain.
    std::string text = "\r" + line;
    if (line.size() < m_progressWidth)
        text += std::string(m_progressWidth - line.size(), ' ');
    Write(m_output, text);
    m_progressWidth = std::max(m_progressWidth, line.size());
    ::LeaveCriticalSection(&m_lock);
}

void Console::EndProgress() {
    ::EnterCriticalSection(&m_lock);
    if (m_progressWidth != 0)
        Write(m_output, "\r\n");
    m_progressWidth = 0;
    ::LeaveCriticalSection(&m_lock);
}

bool Console::Confirm(const std::string& question) {
    Write(m_output, question + " [y/N] ");
    std::string answer;
    char byte = 0;
    DWORD read = 0;
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    while (!CancelRequested() && ::ReadFile(input, &byte, 1, &read, nullptr) && read == 1 &&
           byte != '\n')
        if (byte != '\r')
            answer += byte;
    return !CancelRequested() && (answer == "y" || answer == "Y" || answer == "yes" ||
                                  answer == "Yes" || answer == "YES");
}

void Console::CatchCancel() {
    // A process started in a group of its own has Ctrl+C ignored until it says otherwise.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Console::CancelRequested() {
    return g_cancelRequested;
}

std::string SystemErrorText(DWORD error) {
    std::string words = SystemText(error);
    if (!words.empty() && words.back() == '.')
        words.pop_back();
    const std::string code = "system error " + std::to_string(error);
    return words.empty() ? code : words + " (" + code + ")";
}
