// The line in the browser, over Web Serial. The page keeps the ports the user granted in
// Module.orvanePorts and names each "web:N"; these calls await the port's promises (Asyncify),
// each wait bounded by a slice, so that the engine's rules (the stall limit, the wait hook, the
// read's silence limit) run here as on the other systems. A lost device fails every call at
// once.
#include "device/SerialLine.h"

#include "common/Clock.h"

#include <emscripten.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

// clang-format off
// 0; 1 when the page has no such port; 2 when the browser refused to open it (it gives no reason:
// "Failed to open serial port").
EM_ASYNC_JS(int, orvane_line_open, (int id, int baudRate, int hardwareFlow), {
    const port = Module.orvanePorts && Module.orvanePorts.get(id);
    if (!port) return 1;
    try {
        await port.open({baudRate, dataBits: 8, stopBits: 1, parity: "none",
                         flowControl: hardwareFlow ? "hardware" : "none", bufferSize: 4096});
    } catch (error) {
        Module.orvaneOpenError = String(error);
        return 2;
    }
    Module.orvaneLines = Module.orvaneLines || new Map();
    Module.orvaneLines.set(id, {port, writer: null, reader: null, pending: null, queue: [],
                                writing: null, lost: false});
    return 0;
});

// Starts a write of the bytes; its end is awaited by orvane_line_wait_write.
EM_JS(void, orvane_line_start_write, (int id, const std::uint8_t* data, int size), {
    const line = Module.orvaneLines.get(id);
    if (!line.writer) line.writer = line.port.writable.getWriter();
    const bytes = HEAPU8.slice(data, data + size);
    line.writing = {done: false, error: null};
    const writing = line.writing;
    line.writer.write(bytes).then(() => { writing.done = true; },
                                  (error) => { writing.error = error; line.lost = true; });
});

// 1 when the write ended, 0 while it is pending after sliceMs, -1 when it failed or the device
// was lost.
EM_ASYNC_JS(int, orvane_line_wait_write, (int id, int sliceMs), {
    const line = Module.orvaneLines.get(id);
    const writing = line.writing;
    const until = performance.now() + sliceMs;
    while (!writing.done && !writing.error && !line.lost && performance.now() < until)
        await new Promise((resolve) => setTimeout(resolve, Math.min(5, sliceMs)));
    if (writing.error || line.lost) return -1;
    return writing.done ? 1 : 0;
});

// Up to size bytes that have arrived, waiting at most limitMs for the first: the count, or -1
// when the device was lost.
EM_ASYNC_JS(int, orvane_line_read, (int id, std::uint8_t* into, int size, int limitMs), {
    const line = Module.orvaneLines.get(id);
    if (line.lost) return -1;
    if (line.queue.length === 0) {
        if (!line.reader) line.reader = line.port.readable.getReader();
        if (!line.pending)
            line.pending = line.reader.read().then(
                (result) => { line.pending = null; if (result.done) line.lost = true;
                              else line.queue.push(...result.value); },
                () => { line.pending = null; line.lost = true; });
        let timer;
        await Promise.race([line.pending, new Promise((resolve) => {
            timer = setTimeout(resolve, limitMs); })]);
        clearTimeout(timer);
    }
    if (line.queue.length === 0) return line.lost ? -1 : 0;
    const taken = line.queue.splice(0, size);
    HEAPU8.set(taken, into);
    return taken.length;
});

// Closes the writer, which resolves once what was written has left the port; 1 when it has, 0
// while it has not after sliceMs, below 0 when it failed.
EM_ASYNC_JS(int, orvane_line_wait_sent, (int id, int sliceMs), {
    const line = Module.orvaneLines.get(id);
    if (!line.writer) return 1;
    if (!line.closing) {
        line.closing = {done: false, error: null};
        const closing = line.closing;
        line.writer.close().then(() => { closing.done = true; },
                                 (error) => { closing.error = error; line.lost = true; });
    }
    const closing = line.closing;
    const until = performance.now() + sliceMs;
    while (!closing.done && !closing.error && !line.lost && performance.now() < until)
        await new Promise((resolve) => setTimeout(resolve, Math.min(5, sliceMs)));
    if (closing.error || line.lost) return -1;
    if (!closing.done) return 0;
    line.writer.releaseLock();
    line.writer = null;
    line.closing = null;
    return 1;
});

// Throws away what waits to be written.
EM_ASYNC_JS(void, orvane_line_discard, (int id), {
    const line = Module.orvaneLines.get(id);
    if (line.writer) {
        try { await line.writer.abort(); } catch (error) {}
        line.writer = null;
        line.closing = null;
    }
});

EM_ASYNC_JS(void, orvane_line_close, (int id), {
    const line = Module.orvaneLines && Module.orvaneLines.get(id);
    if (!line) return;
    Module.orvaneLines.delete(id);
    try {
        if (line.reader) { await line.reader.cancel(); line.reader.releaseLock(); }
        if (line.writer) { await line.writer.abort(); }
        await line.port.close();
    } catch (error) {}
});
// clang-format on

struct SerialLine::Native {
    int id = -1;
    std::uint32_t baudRate = 0;
};

namespace {

// The writer's close resolves once the browser has handed every byte to the system, which shows
// the page no output queue: the system's buffers and the bridge's may still hold this much. The
// line stays open for the time it takes at the line's rate, since a close drops what they hold.
constexpr std::uint32_t kUnseenBufferBytes = 64 * 1024;

// The page's number of a port named "web:N"; -1 for any other name.
int PortId(const std::string& port) {
    if (port.rfind("web:", 0) != 0 || port.size() == 4)
        return -1;
    char* end = nullptr;
    const long id = std::strtol(port.c_str() + 4, &end, 10);
    return *end == '\0' && id >= 0 && id < 1000000 ? static_cast<int>(id) : -1;
}

// The result of a wait call as a slice's step; a failure is the device lost.
WaitStep StepOf(int result, SystemError& error) {
    if (result < 0) {
        error = kErrorRemoved;
        return WaitStep::Failed;
    }
    return result > 0 ? WaitStep::Ready : WaitStep::NotYet;
}

// How a wait for the browser's promise ended, as the line's result.
LineResult ResultOf(Wait wait, SystemError error) {
    switch (wait) {
    case Wait::Completed:
        return LineResult::Success();
    case Wait::Failed:
        return LineResult::Failure(LineError::Write, error);
    case Wait::TimedOut:
        return LineResult::Failure(LineError::Stalled, kErrorTimeout);
    case Wait::Cancelled:
        break;
    }
    return LineResult::Failure(LineError::Cancelled, kErrorCancelled);
}

} // namespace

SerialLine::SerialLine(LineProbe* probe) : m_native(std::make_unique<Native>()), m_probe(probe) {}

SerialLine::~SerialLine() {
    Release();
}

bool SerialLine::IsOpen() const {
    return m_native->id >= 0;
}

LineResult SerialLine::OpenPort(const std::string& port, const LineSettings& settings) {
    const int id = PortId(port);
    if (id < 0)
        return LineResult::Failure(LineError::Open, kErrorNoSuchPort);
    if (const int failed = orvane_line_open(id, static_cast<int>(settings.baudRate),
                                            settings.hardwareFlowControl ? 1 : 0))
        return LineResult::Failure(LineError::Open, failed == 1 ? kErrorNoSuchPort : EACCES);
    m_native->id = id;
    m_native->baudRate = settings.baudRate;
    return LineResult::Success();
}

LineResult SerialLine::WritePiece(const std::uint8_t* data, std::uint32_t size,
                                  std::uint32_t& moved, std::uint32_t stallLimitMs,
                                  const WaitHook& keepWaiting) {
    moved = 0;
    orvane_line_start_write(m_native->id, data, static_cast<int>(size));
    SystemError error = kNoSystemError;
    const Wait wait = WaitInSlices(stallLimitMs, keepWaiting, [&](std::uint32_t sliceMs) {
        return StepOf(orvane_line_wait_write(m_native->id, static_cast<int>(sliceMs)), error);
    });
    if (wait == Wait::Completed)
        moved = size;
    return ResultOf(wait, error);
}

LineResult SerialLine::ReadPass(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got,
                                std::uint32_t limitMs) {
    got = 0;
    const int read =
        orvane_line_read(m_native->id, buffer, static_cast<int>(size), static_cast<int>(limitMs));
    if (read < 0)
        return LineResult::Failure(LineError::Read, kErrorRemoved);
    got = static_cast<std::uint32_t>(read);
    return LineResult::Success();
}

LineResult SerialLine::QueuedOutput(std::uint32_t& bytes) {
    // The browser shows no output queue: the writer's close below waits for it.
    bytes = 0;
    return LineResult::Success();
}

LineResult SerialLine::WaitUntilSent(std::uint32_t stallLimitMs, const WaitHook& keepWaiting) {
    SystemError error = kNoSystemError;
    const Wait wait = WaitInSlices(stallLimitMs, keepWaiting, [&](std::uint32_t sliceMs) {
        return StepOf(orvane_line_wait_sent(m_native->id, static_cast<int>(sliceMs)), error);
    });
    if (wait != Wait::Completed)
        return ResultOf(wait, error);
    // Ten bits a byte on an 8N1 line.
    const std::uint64_t unseenMs =
        static_cast<std::uint64_t>(kUnseenBufferBytes) * 10 * 1000 / m_native->baudRate;
    const std::uint64_t until = MonotonicMs() + unseenMs;
    for (std::uint64_t now = MonotonicMs(); now < until; now = MonotonicMs()) {
        if (keepWaiting && !keepWaiting())
            return LineResult::Failure(LineError::Cancelled, kErrorCancelled);
        PauseMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(until - now, kWaitSliceMs)));
    }
    return LineResult::Success();
}

void SerialLine::DiscardOutput() {
    orvane_line_discard(m_native->id);
}

void SerialLine::Release() {
    if (m_native->id < 0)
        return;
    orvane_line_close(m_native->id);
    m_native->id = -1;
    Note(LineStep::Closed);
}
