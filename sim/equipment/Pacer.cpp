#include "Pacer.h"

#include <algorithm>
#include <cmath>

namespace simeq {

void Pacer::reset(std::uint32_t bytesPerSecond, TimePoint now) {
    rate_ = static_cast<double>(bytesPerSecond);
    slice_ = std::max(1.0, std::floor(rate_ / 1000.0));
    capacity_ = std::max(slice_, std::floor(rate_ / 50.0));
    tokens_ = 0.0;
    last_ = now;
    idle_ = true;
}

void Pacer::start(TimePoint now) {
    if (!idle_)
        return;
    idle_ = false;
    tokens_ = 0.0;
    last_ = now;
}

double Pacer::tokensAt(TimePoint now) const {
    if (idle_)
        return 0.0;
    const double elapsed = std::chrono::duration<double>(now - last_).count();
    return std::min(capacity_, tokens_ + std::max(0.0, elapsed) * rate_);
}

std::size_t Pacer::available(TimePoint now) const {
    return static_cast<std::size_t>(tokensAt(now));
}

bool Pacer::ready(TimePoint now) const {
    return tokensAt(now) >= slice_;
}

TimePoint Pacer::readyAt() const {
    const double wanted = slice_ - tokens_;
    if (wanted <= 0.0)
        return last_;
    return last_ +
           std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(wanted / rate_));
}

void Pacer::consume(std::size_t bytes, TimePoint now, bool drained) {
    tokens_ = tokensAt(now) - static_cast<double>(bytes);
    last_ = now;
    if (drained) {
        idle_ = true;
        tokens_ = 0.0;
    }
}

} // namespace simeq
