#include "ReplyQueue.h"

#include "Pty.h"

#include <iterator>

namespace simeq {

void ReplyQueue::schedule(TimePoint at, std::vector<std::uint8_t> bytes) {
    if (!bytes.empty())
        entries_.push_back({at, std::move(bytes)});
}

void ReplyQueue::clear() {
    entries_.clear();
    waitingForSpace_ = false;
}

std::optional<TimePoint> ReplyQueue::nextDue() const {
    if (entries_.empty() || waitingForSpace_)
        return std::nullopt;
    return entries_.front().at;
}

std::vector<std::uint8_t> ReplyQueue::flush(Pty& pty, TimePoint now) {
    std::vector<std::uint8_t> written;
    waitingForSpace_ = false;
    while (!entries_.empty() && entries_.front().at <= now) {
        auto& bytes = entries_.front().bytes;
        Pty::Result r = pty.write(bytes.data(), bytes.size());
        if (r.status == Pty::Status::Empty) {
            waitingForSpace_ = true;
            break;
        }
        if (r.status != Pty::Status::Data) {
            // Nobody there to hear it.
            entries_.clear();
            break;
        }
        const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(r.bytes);
        written.insert(written.end(), bytes.begin(), end);
        bytes.erase(bytes.begin(), end);
        if (bytes.empty())
            entries_.pop_front();
    }
    return written;
}

} // namespace simeq
