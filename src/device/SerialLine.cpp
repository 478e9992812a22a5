#include "device/SerialLine.h"

#include "common/Clock.h"

#include <algorithm>

Wait WaitInSlices(std::uint32_t limitMs, const WaitHook& keepWaiting,
                  const std::function<WaitStep(std::uint32_t sliceMs)>& waitOnce) {
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        const std::uint64_t elapsed = MonotonicMs() - start;
        if (elapsed >= limitMs)
            return Wait::TimedOut;
        const auto left = static_cast<std::uint32_t>(limitMs - elapsed);
        switch (waitOnce(keepWaiting ? std::min(left, kWaitSliceMs) : left)) {
        case WaitStep::Ready:
            return Wait::Completed;
        case WaitStep::Failed:
            return Wait::Failed;
        case WaitStep::NotYet:
            break;
        }
        if (keepWaiting && !keepWaiting())
            return Wait::Cancelled;
    }
}

LineResult SerialLine::Open(const std::string& port, const LineSettings& settings) {
    Release();
    if (port.empty())
        return LineResult::Failure(LineError::Open, kErrorNoSuchPort);
    m_port = port;
    const LineResult opened = OpenPort(port, settings);
    if (opened)
        PauseMs(kPortSettleMs);
    return opened;
}

void SerialLine::Close() {
    Release();
    PauseMs(kPortSettleMs);
}

LineResult SerialLine::WriteWithTimeout(const void* data, std::uint32_t count,
                                        std::uint32_t stallLimitMs, const WaitHook& keepWaiting,
                                        std::uint32_t* written) {
    std::uint32_t total = 0;
    const auto report = [&](LineResult result) {
        if (written)
            *written = total;
        if (m_probe && total)
            m_probe->Carried(m_port, true, static_cast<const std::uint8_t*>(data), total);
        return result;
    };
    if (!IsOpen())
        return report(LineResult::Failure(LineError::NotOpen, kErrorNotOpen));
    const auto* next = static_cast<const std::uint8_t*>(data);
    while (total < count) {
        const std::uint32_t piece = std::min(count - total, kStallPieceBytes);
        std::uint32_t moved = 0;
        const LineResult wrote = WritePiece(next, piece, moved, stallLimitMs, keepWaiting);
        total += moved;
        next += moved;
        if (!wrote)
            return report(wrote);
        // A piece the system took only in part is a failed write, as on any short write.
        if (moved != piece)
            return report(LineResult::Failure(LineError::Write, kErrorShortWrite));
    }
    Note(LineStep::Written);
    return report(LineResult::Success());
}

LineResult SerialLine::ReadWithTimeout(void* buffer, std::uint32_t count, std::uint32_t limitMs) {
    if (!IsOpen())
        return LineResult::Failure(LineError::NotOpen, kErrorNotOpen);
    auto* const start = static_cast<std::uint8_t*>(buffer);
    std::uint8_t* position = start;
    const LineResult read = ReadUntil(position, count, limitMs);
    // What arrived goes to the probe however the read ended.
    if (m_probe && position != start)
        m_probe->Carried(m_port, false, start, static_cast<std::uint32_t>(position - start));
    return read;
}

LineResult SerialLine::ReadUntil(std::uint8_t*& position, std::uint32_t count,
                                 std::uint32_t limitMs) {
    std::uint32_t remaining = count;
    // The limit runs from the last byte received: the read fails once no byte has arrived for
    // that long, however the system splits the wait into passes.
    std::uint64_t lastProgress = MonotonicMs();
    while (remaining > 0) {
        const std::uint64_t elapsed = MonotonicMs() - lastProgress;
        if (elapsed >= limitMs)
            return LineResult::Failure(LineError::Read, kErrorTimeout);
        std::uint32_t got = 0;
        const LineResult pass =
            ReadPass(position, remaining, got, static_cast<std::uint32_t>(limitMs - elapsed));
        got = std::min(got, remaining);
        remaining -= got;
        position += got;
        if (remaining == 0)
            break;
        if (!pass)
            return pass;
        if (got > 0)
            lastProgress = MonotonicMs();
        else
            PauseMs(kEmptyReadPauseMs);
    }
    return LineResult::Success();
}

LineResult SerialLine::Drain(std::uint32_t stallLimitMs, const WaitHook& keepWaiting) {
    if (!IsOpen())
        return LineResult::Failure(LineError::NotOpen, kErrorNotOpen);
    std::uint32_t queued = 0;
    const auto measure = [&] {
        const LineResult measured = QueuedOutput(queued);
        if (m_probe)
            queued = m_probe->Queued(measured ? queued : 0);
        return measured;
    };
    LineResult result = measure();
    // The stall limit runs from the last time the queue shrank, as a write's does from the last
    // byte taken.
    while (result && queued > 0) {
        const std::uint32_t before = queued;
        switch (WaitInSlices(stallLimitMs, keepWaiting, [&](std::uint32_t sliceMs) {
            PauseMs(std::min(sliceMs, kWaitSliceMs));
            result = measure();
            if (!result)
                return WaitStep::Failed;
            return queued < before ? WaitStep::Ready : WaitStep::NotYet;
        })) {
        case Wait::Completed:
        case Wait::Failed:
            break;
        case Wait::TimedOut:
            result = LineResult::Failure(LineError::Stalled, kErrorTimeout);
            break;
        case Wait::Cancelled:
            result = LineResult::Failure(LineError::Cancelled, kErrorCancelled);
            break;
        }
    }
    if (result) {
        Note(LineStep::Drained);
        result = WaitUntilSent(stallLimitMs, keepWaiting);
    }
    if (!result) {
        DiscardOutput();
        return result;
    }
    Note(LineStep::Sent);
    return result;
}
