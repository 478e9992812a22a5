#include "cli/Console.h"

#include "common/Clock.h"
#include "text/TerminalText.h"

#include <algorithm>
#include <cstdio>

namespace {
bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
} // namespace

size_t ColumnsOf(const std::string& line) {
    size_t columns = 0;
    for (const char c : line)
        columns += IsContinuation(c) ? 0 : 1;
    return columns;
}

std::string FitToColumns(const std::string& line, size_t columns) {
    size_t seen = 0;
    for (size_t at = 0; at < line.size(); ++at) {
        if (IsContinuation(line[at]))
            continue;
        if (seen++ == columns)
            return line.substr(0, at);
    }
    return line;
}

unsigned Console::Columns() const {
    const unsigned columns = SystemColumns();
    return columns ? columns : 80;
}

bool Console::ProgressInPlace() const {
    return m_outputIsTerminal && !m_json && m_verbosity != Verbosity::Quiet;
}

bool Console::ProgressAsLines() const {
    return !m_outputIsTerminal && !m_json && m_verbosity != Verbosity::Quiet;
}

void Console::ClearProgressLocked() {
    if (m_progressLines == 0)
        return;
    if (m_progressLines > 1)
        Write(Stream::Output, "\x1b[" + std::to_string(m_progressLines - 1) + "A\r\x1b[J");
    else
        Write(Stream::Output, "\r" + std::string(m_progressWidth, ' ') + "\r");
    m_progressLines = 0;
    m_progressWidth = 0;
}

void Console::WriteLines(Stream stream, const std::string& prefix, const std::string& text) {
    Held held(m_lock);
    ClearProgressLocked();
    std::string lines;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        lines += prefix + TerminalText(text.substr(start, end - start)) + kLineEnd;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    Write(stream, lines);
}

void Console::Print(const std::string& text) {
    if (!m_json && m_verbosity != Verbosity::Quiet)
        WriteLines(Stream::Output, "", text);
}

void Console::Result(const std::string& text) {
    if (!m_json)
        WriteLines(Stream::Output, "", text);
}

void Console::Error(const std::string& text) {
    WriteLines(Stream::Errors, "orvane-update: ", text);
}

void Console::Trace(const std::string& text) {
    if (m_verbosity != Verbosity::Verbose)
        return;
    char time[32];
    std::snprintf(time, sizeof(time), "%9.3f  ", (MonotonicMs() - m_startMs) / 1000.0);
    WriteLines(Stream::Errors, time, text);
}

void Console::Tracer::Carried(const std::string& port, bool sent, const std::uint8_t* bytes,
                              std::uint32_t count) {
    // A command and a reply are a few bytes; a chunk of the file is named by its size.
    constexpr std::uint32_t kShownBytes = 16;
    std::string line = port + (sent ? " > " : " < ");
    if (count > kShownBytes) {
        m_console.Trace(line + std::to_string(count) + " bytes");
        return;
    }
    std::string hex;
    for (std::uint32_t i = 0; i < count; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof(pair), "%s%02x", i ? " " : "", bytes[i]);
        hex += pair;
    }
    const std::string text(reinterpret_cast<const char*>(bytes), count);
    m_console.Trace(line + (sent ? EscapedControls(text) + " (" + hex + ")" : hex));
}

void Console::JsonLine(const std::string& object) {
    if (!m_json)
        return;
    Held held(m_lock);
    Write(Stream::Output, object + kLineEnd);
}

void Console::ShowProgress(const std::vector<std::string>& lines) {
    if (lines.empty() || !ProgressInPlace())
        return;
    Held held(m_lock);
    // One column short of the width: a line that reaches the last column wraps on some
    // terminals, and the next redraw would then begin a line too low.
    const size_t width = Columns() > 1 ? Columns() - 1 : 1;
    const bool several = m_cursorMoves && lines.size() > 1;
    if (m_progressLines != 0 && m_progressLines != (several ? lines.size() : 1))
        ClearProgressLocked();
    if (!several) {
        // Padded over what the previous line left, so no characters of it remain.
        const std::string line = FitToColumns(TerminalText(lines.back()), width);
        const size_t shown = ColumnsOf(line);
        const size_t pad =
            std::min(m_progressWidth, width) > shown ? std::min(m_progressWidth, width) - shown : 0;
        Write(Stream::Output, "\r" + line + std::string(pad, ' '));
        m_progressLines = 1;
        m_progressWidth = shown;
        return;
    }
    std::string text;
    if (m_progressLines > 1)
        text = "\x1b[" + std::to_string(m_progressLines - 1) + "A";
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i ? "\n\r" : "\r") + FitToColumns(TerminalText(lines[i]), width) + "\x1b[K";
    Write(Stream::Output, text);
    m_progressLines = lines.size();
    m_progressWidth = width;
}

void Console::EndProgress() {
    Held held(m_lock);
    if (m_progressLines != 0)
        Write(Stream::Output, kLineEnd);
    m_progressLines = 0;
    m_progressWidth = 0;
}

bool Console::Confirm(const std::string& question) {
    Write(Stream::Errors, TerminalText(question) + " [y/N] ");
    std::string answer;
    char byte = 0;
    while (!CancelRequested() && ReadInput(byte) && byte != '\n')
        if (byte != '\r')
            answer += byte;
    return !CancelRequested() && (answer == "y" || answer == "Y" || answer == "yes" ||
                                  answer == "Yes" || answer == "YES");
}
