#pragma once
// A clock the test moves: Sleep advances it at once, so a minute of
// recording passes in the time the grabs and writes take.

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/EngineClock.h"

namespace velmora::test {

class FakeClock : public engine::TEngineClock {
  public:
    std::int64_t timeGetTime() override { return now_; }
    void Sleep(std::int64_t ms) override {
        ++sleeps;
        sleptMs += ms;
        Advance(ms);
    }
    void Advance(std::int64_t ms) {
        now_ += ms;
        if (onAdvance) onAdvance(now_);
    }
    std::int64_t Now() const { return now_; }

    // Called on the advancing thread after every move; set before the worker starts.
    std::function<void(std::int64_t now)> onAdvance;
    std::atomic<std::int64_t> sleeps{0}, sleptMs{0};

  private:
    std::atomic<std::int64_t> now_{5000};
};

}  // namespace velmora::test
