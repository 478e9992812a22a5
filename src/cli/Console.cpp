#include "cli/Console.h"

#include <algorithm>

void Console::ClearProgressLocked() {
    if (m_progressWidth == 0)
        return;
    Write(Stream::Output, "\r" + std::string(m_progressWidth, ' ') + "\r");
    m_progressWidth = 0;
}

void Console::Print(const std::string& line) {
    Held held(m_lock);
    ClearProgressLocked();
    Write(Stream::Output, line + kLineEnd);
}

void Console::Error(const std::string& line) {
    Held held(m_lock);
    ClearProgressLocked();
    Write(Stream::Errors, "orvane-update: " + line + kLineEnd);
}

void Console::ShowProgress(const std::string& line) {
    Held held(m_lock);
    // Padded over what the previous line left, so no characters of it remain.
    std::string text = "\r" + line;
    if (line.size() < m_progressWidth)
        text += std::string(m_progressWidth - line.size(), ' ');
    Write(Stream::Output, text);
    m_progressWidth = std::max(m_progressWidth, line.size());
}

void Console::EndProgress() {
    Held held(m_lock);
    if (m_progressWidth != 0)
        Write(Stream::Output, kLineEnd);
    m_progressWidth = 0;
}

bool Console::Confirm(const std::string& question) {
    Write(Stream::Errors, question + " [y/N] ");
    std::string answer;
    char byte = 0;
    while (!CancelRequested() && ReadInput(byte) && byte != '\n')
        if (byte != '\r')
            answer += byte;
    return !CancelRequested() && (answer == "y" || answer == "Y" || answer == "yes" ||
                                  answer == "Yes" || answer == "YES");
}
