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
    // Blocks until timeGetTime() reaches ms (at once when it has): an
    // absolute deadline, so lateness of one wake does not add up.
    virtual void SleepUntil(std::int64_t ms) {
        const std::int64_t now = timeGetTime();
        if (ms > now) Sleep(ms - now);
    }
    // The capture loop hands a frame to its writer thread (Queued) and the
    // writer is done with it (Done). The real clock ignores this; a clock on
    // simulated time moves only while the writer has nothing to do.
    virtual void WorkQueued() {}
    virtual void WorkDone() {}
    // The capture loop waits for the writer to drain its queue (true) and is
    // done waiting (false). Time passes meanwhile; a clock on simulated time
    // must then move by itself, as nothing else moves it.
    virtual void Draining(bool /*on*/) {}
    // This clock's reading at a steady_clock moment (nanoseconds since its
    // epoch), so that times the sound server gives can be set against the
    // capture loop's start. The system clock is the steady clock in ms.
    virtual std::int64_t FromSteadyNs(std::int64_t steadyNs) { return steadyNs / 1000000; }
};

std::shared_ptr<TEngineClock> SystemClock();

}  // namespace velmora::engine
