#include "engine/vfw/BandThreads.h"

#include <sched.h>

namespace velmora::vfw {

BandThreads::BandThreads(int helpers) {
    if (helpers <= 0) return;
    starts_.reserve(static_cast<std::size_t>(helpers));
    threads_.reserve(static_cast<std::size_t>(helpers));
    // Not inherited: a real-time creator would hand its policy on.
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return;
    const sched_param normal{};
    const bool explicitNormal = pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED) == 0 &&
                                pthread_attr_setschedpolicy(&attr, SCHED_OTHER) == 0 &&
                                pthread_attr_setschedparam(&attr, &normal) == 0;
    for (int i = 0; explicitNormal && i < helpers; ++i) {
        starts_.push_back({this, i + 1});
        pthread_t thread;
        if (pthread_create(&thread, &attr, &BandThreads::Main, &starts_.back()) != 0) break;
        threads_.push_back(thread);
    }
    pthread_attr_destroy(&attr);
}

BandThreads::~BandThreads() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    begun_.notify_all();
    for (pthread_t thread : threads_) pthread_join(thread, nullptr);
}

void* BandThreads::Main(void* start) {
    const auto* s = static_cast<const Start*>(start);
    s->owner->Serve(s->band);
    return nullptr;
}

void BandThreads::Serve(int band) {
    std::uint64_t done = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        begun_.wait(lock, [&] { return quit_ || frame_ != done; });
        if (quit_) return;
        done = frame_;
        const Job job = job_;
        void* const context = context_;
        lock.unlock();
        const bool ok = job(context, band);
        lock.lock();
        if (!ok) failed_ = true;
        if (--running_ == 0) finished_.notify_one();
    }
}

bool BandThreads::Run(Job job, void* context) {
    {
        std::lock_guard lock(mutex_);
        job_ = job;
        context_ = context;
        failed_ = false;
        running_ = helpers();
        ++frame_;
    }
    begun_.notify_all();
    const bool ok = job(context, 0);
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return running_ == 0; });
    return ok && !failed_;
}

}  // namespace velmora::vfw
