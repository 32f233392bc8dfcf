#pragma once
// Shared helpers of the wave device tests: polling with a deadline and a
// recorder for exceptions that escape notification handlers.

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/WaveUtils.h"

namespace velmora::test {

template <typename Predicate>
bool eventually(Predicate p, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!p()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class ReportedErrors {
  public:
    ReportedErrors() {
        audio::SetWaveExceptionReporter([this](const std::exception& e) {
            std::lock_guard lock(mutex_);
            texts_.emplace_back(e.what());
        });
    }
    ~ReportedErrors() { audio::SetWaveExceptionReporter(nullptr); }
    std::vector<std::string> texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

}  // namespace velmora::test
