#include "engine/EngineClock.h"

#include <chrono>
#include <thread>

namespace velmora::engine {
namespace {

class SteadyClock : public TEngineClock {
  public:
    std::int64_t timeGetTime() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void Sleep(std::int64_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    void SleepUntil(std::int64_t ms) override {
        // The moment the millisecond begins: timeGetTime() reads it at once.
        std::this_thread::sleep_until(
            std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms)));
    }
};

}  // namespace

std::shared_ptr<TEngineClock> SystemClock() {
    static const auto clock = std::make_shared<SteadyClock>();
    return clock;
}

}  // namespace velmora::engine
