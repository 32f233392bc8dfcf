#pragma once
// The engine's clock, injectable so tests can drive the capture loop's
// arithmetic exactly.

#include <cstdint>
#include <memory>

namespace velmora::engine {

class TEngineClock {
  public:
    virtual ~TEngineClock() = default;
    // Milliseconds of a monotonic clock.
    virtual std::int64_t timeGetTime() = 0;
    // Blocks the calling thread for about ms milliseconds.
    virtual void Sleep(std::int64_t ms) = 0;
};

std::shared_ptr<TEngineClock> SystemClock();

}  // namespace velmora::engine
