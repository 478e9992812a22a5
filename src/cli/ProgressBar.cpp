#include "cli/ProgressBar.h"

#include "cli/Console.h"
#include "cli/UnitText.h"

#include <cstdio>
#include <vector>

namespace {
constexpr size_t kWidestBar = 40;
constexpr size_t kNarrowestBar = 10;

std::string Bar(unsigned long long done, unsigned long long total, size_t width) {
    const size_t filled = total ? static_cast<size_t>(done * width / total) : width;
    std::string bar(filled, '=');
    if (filled < width)
        bar += '>' + std::string(width - filled - 1, ' ');
    return "[" + bar + "]";
}
} // namespace

std::string ProgressBarLine(const UnitProgress& progress, size_t columns) {
    const unsigned long long done = std::min(progress.done, progress.total);
    const unsigned long long percent = progress.total ? done * 100 / progress.total : 100;
    char percentText[8];
    std::snprintf(percentText, sizeof(percentText), "%3llu%%", percent);
    // The parts after the percentage, the one to drop first last.
    std::vector<std::string> parts;
    if (!progress.ended.empty()) {
        parts.push_back(progress.ended);
    } else if (progress.confirmingVersion >= 0) {
        parts.push_back("confirming version " + ThreeDigits(progress.confirmingVersion) + ", " +
                        Seconds(progress.confirmingMs) + " s");
    } else {
        const unsigned long long rate = progress.elapsedMs ? done * 1000 / progress.elapsedMs : 0;
        parts.push_back(std::to_string(rate) + " B/s");
        if (rate)
            parts.push_back(std::to_string((progress.total - done + rate - 1) / rate) + " s left");
    }
    for (;;) {
        std::string tail = percentText;
        for (const std::string& part : parts)
            tail += "  " + part;
        const size_t fixed = ColumnsOf(progress.who) + 2 + ColumnsOf(tail) + 2;
        const size_t room = columns > fixed ? columns - fixed : 0;
        if (room >= kNarrowestBar || parts.size() <= 1) {
            if (room < kNarrowestBar)
                return FitToColumns(progress.who + " " + tail, columns);
            return progress.who + " " + Bar(done, progress.total, std::min(room, kWidestBar)) +
                   " " + tail;
        }
        parts.pop_back();
    }
}
