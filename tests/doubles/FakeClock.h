#pragma once
// A clock the test moves: Sleep advances it at once, so a minute of
// recording passes in the time the grabs and writes take. Time does not move
// while the engine's writer thread has frames to write, unless the writer
// itself waits for a later time (WaitUntil: a compressor that takes time),
// so a run's figures do not depend on how the threads are scheduled. A
// writer that waits ends its wait at its deadline exactly, and while the
// loop drains the writer's queue the writer moves the clock itself.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>

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
            Await(settled_, lock, [this] { return Settled(); });
            const std::int64_t target = now_ + ms;
            do {
                // A writer whose wait ends within this move resumes at its
                // deadline, not at the move's end: its frame takes what it said.
                now_ = waiting_ > 0 && deadline_ < target ? std::max<std::int64_t>(now_, deadline_)
                                                          : target;
                if (waiting_ > 0) {
                    // It runs until it waits again or is idle.
                    waiting_ = 0;
                    ++released_;
                    woken_.notify_all();
                    Await(settled_, lock, [this] { return Settled(); });
                }
            } while (now_ < target);
        }
        if (onAdvance) onAdvance(now_);
    }
    std::int64_t Now() const { return now_; }

    // On the writer thread: blocks until the clock reaches ms.
    void WaitUntil(std::int64_t ms) {
        std::unique_lock lock(mutex_);
        while (now_ < ms) {
            if (draining_) {
                // Nobody else moves the clock now; the wait is the time that passes.
                now_ = ms;
                lock.unlock();
                if (onAdvance) onAdvance(ms);
                return;
            }
            ++waiting_;
            deadline_ = ms;
            settled_.notify_all();
            const std::int64_t round = released_;
            Await(woken_, lock, [this, round] { return released_ != round; });
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
    void Draining(bool on) override {
        std::lock_guard lock(mutex_);
        draining_ = on;
        if (on && waiting_ > 0) {
            waiting_ = 0;
            ++released_;
            woken_.notify_all();
        }
    }
    // Frames handed to the writer and not yet done: a compressor called now
    // is the writer's (none outside a recording's loop).
    bool WorkPending() {
        std::lock_guard lock(mutex_);
        return pending_ > 0;
    }

    // Called on the advancing thread after every move; set before the worker starts.
    std::function<void(std::int64_t now)> onAdvance;
    std::atomic<std::int64_t> sleeps{0}, sleptMs{0};

  private:
    bool Settled() const { return pending_ == 0 || waiting_ > 0; }
    // Every wait here is released by the other thread's next step; one that
    // is not (a fault in the engine or a test) fails instead of hanging.
    template <class Pred>
    static void Await(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Pred pred) {
        if (!cv.wait_for(lock, std::chrono::seconds(30), pred))
            throw std::logic_error("FakeClock: the other thread never moved on");
    }

    std::atomic<std::int64_t> now_{5000};
    std::mutex mutex_;
    std::condition_variable settled_, woken_;
    int pending_ = 0;            // frames handed to the writer and not yet done
    int waiting_ = 0;            // the writer waits in WaitUntil
    std::int64_t deadline_ = 0;  // until then
    std::int64_t released_ = 0;
    bool draining_ = false;
};

}  // namespace velmora::test
