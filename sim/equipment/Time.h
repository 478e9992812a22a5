#pragma once

#include <chrono>

namespace simeq {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Millis = std::chrono::milliseconds;

} // namespace simeq
