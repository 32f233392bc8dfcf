#pragma once
// A clock the test moves: Sleep advances it at once, so a minute of
// recording passes in the time the grabs and writes take. Time does not move
// while the engine's writer thread has frames to write, unless the writer
// itself waits for a later time (WaitUntil: a compressor that takes time),
// so a run's figures do not depend on how the threads are scheduled.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

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
        {
            std::unique_lock lock(mutex_);
            settled_.wait(lock, [this] { return Settled(); });
            now_ += ms;
            if (waiting_ > 0) {
                // The writer's wait is over: it runs until it waits again or is idle.
                waiting_ = 0;
                ++released_;
                woken_.notify_all();
                settled_.wait(lock, [this] { return Settled(); });
            }
        }
        if (onAdvance) onAdvance(now_);
    }
    std::int64_t Now() const { return now_; }

    // On the writer thread: blocks until the clock reaches ms.
    void WaitUntil(std::int64_t ms) {
        std::unique_lock lock(mutex_);
        while (now_ < ms) {
            ++waiting_;
            settled_.notify_all();
            const std::int64_t round = released_;
            woken_.wait(lock, [this, round] { return released_ != round; });
        }
    }

    void WorkQueued() override {
        std::lock_guard lock(mutex_);
        ++pending_;
    }
    void WorkDone() override {
        std::lock_guard lock(mutex_);
        --pending_;
        settled_.notify_all();
    }

    // Called on the advancing thread after every move; set before the worker starts.
    std::function<void(std::int64_t now)> onAdvance;
    std::atomic<std::int64_t> sleeps{0}, sleptMs{0};

  private:
    bool Settled() const { return pending_ == 0 || waiting_ > 0; }

    std::atomic<std::int64_t> now_{5000};
    std::mutex mutex_;
    std::condition_variable settled_, woken_;
    int pending_ = 0;  // frames handed to the writer and not yet done
    int waiting_ = 0;  // the writer waits in WaitUntil
    std::int64_t released_ = 0;
};

}  // namespace velmora::test
