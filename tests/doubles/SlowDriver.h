#pragma once
// A compressor driver that takes a set time of the fake clock for every
// frame and otherwise stores the frames uncompressed.

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "tests/doubles/FakeClock.h"
#include "tests/doubles/HookedDriver.h"

namespace velmora::test {

class SlowDriver : public HookedDriver {
  public:
    SlowDriver(FakeClock& clock, vfw::FOURCC handler, std::string name)
        : HookedDriver(handler, std::move(name)) {
        // A frame of the capture loop takes the writer's time, which the
        // loop's thread moves; one outside it (a probe) takes the caller's.
        beforeCompress = [this, &clock] {
            if (clock.WorkPending())
                clock.WaitUntil(clock.Now() + costMs);
            else
                clock.Advance(costMs);
        };
    }

    // Fake ms each frame takes.
    std::atomic<std::int64_t> costMs{0};
};

}  // namespace velmora::test
