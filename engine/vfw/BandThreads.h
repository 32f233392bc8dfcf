#pragma once
// Helper threads that share each frame's conversion, a band of rows each,
// with the thread that asks for it. Made once and kept until their owner
// goes: starting threads for every frame costs more than a band saves at
// 60 frames a second. They run at normal scheduling even when made by a
// thread at real-time priority (the grab thread), so a long conversion
// cannot starve the encoder and the X server. One caller at a time.

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velmora::vfw {

class BandThreads {
  public:
    // A band's work; false when it failed.
    using Job = bool (*)(void* context, int band);

    // Makes up to helpers threads; fewer (none) where no more can be had.
    explicit BandThreads(int helpers);
    ~BandThreads();
    BandThreads(const BandThreads&) = delete;
    BandThreads& operator=(const BandThreads&) = delete;

    // Threads made: bands 1..helpers() run on them, band 0 on the caller.
    int helpers() const { return static_cast<int>(threads_.size()); }
    // Runs job for every band and returns when all have finished: true when
    // each returned true.
    bool Run(Job job, void* context);

  private:
    struct Start {
        BandThreads* owner;
        int band;
    };
    static void* Main(void* start);
    void Serve(int band);

    std::mutex mutex_;
    std::condition_variable begun_;     // a new frame's bands, or the end
    std::condition_variable finished_;  // the last band of a frame is done
    Job job_ = nullptr;
    void* context_ = nullptr;
    std::uint64_t frame_ = 0;
    int running_ = 0;
    bool failed_ = false;
    bool quit_ = false;
    std::vector<Start> starts_;
    std::vector<pthread_t> threads_;
};

}  // namespace velmora::vfw
