#include "engine/FramePipeline.h"

#include <system_error>
#include <utility>

namespace velmora::engine {

FramePipeline::FramePipeline(const vfw::BITMAPINFOHEADER& format,
                             std::shared_ptr<TEngineClock> clock, WriteFn write)
    : clock_(std::move(clock)), write_(std::move(write)) {
    ready_ = true;
    for (Slot& slot : slots_) {
        slot.frame = AllocatePackedFrame(format);
        if (!slot.frame) ready_ = false;
        free_[static_cast<std::size_t>(freeCount_++)] = &slot;
    }
}

FramePipeline::~FramePipeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    Join();
    for (Slot& slot : slots_) FreePackedDib(slot.frame);
}

bool FramePipeline::Start() {
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

FramePipeline::Slot* FramePipeline::Acquire() {
    std::lock_guard lock(mutex_);
    if (freeCount_ == 0) return nullptr;
    return free_[static_cast<std::size_t>(--freeCount_)];
}

void FramePipeline::Return(Slot* slot) {
    std::lock_guard lock(mutex_);
    free_[static_cast<std::size_t>(freeCount_++)] = slot;
}

void FramePipeline::Queue(Slot* slot) {
    clock_->WorkQueued();
    {
        std::lock_guard lock(mutex_);
        queue_[static_cast<std::size_t>((queueHead_ + queueCount_) % kSlots)] = slot;
        ++queueCount_;
    }
    wake_.notify_all();
}

int FramePipeline::Pending() const {
    std::lock_guard lock(mutex_);
    return queueCount_ + (busy_ ? 1 : 0);
}

void FramePipeline::Finish() {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_all();
    Join();
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
}

void FramePipeline::Join() {
    if (!thread_.joinable()) return;
    // The frame being written still takes its time.
    clock_->Draining(true);
    thread_.join();
    clock_->Draining(false);
}

double FramePipeline::MeanWriteMs() const {
    if (written_ < kWindow) return -1;
    return static_cast<double>(windowSum_) / kWindow;
}

void FramePipeline::Run() {
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return queueCount_ > 0 || finishing_ || stopping_; });
            if (queueCount_ == 0) return;
            slot = queue_[static_cast<std::size_t>(queueHead_)];
            queueHead_ = (queueHead_ + 1) % kSlots;
            --queueCount_;
            busy_ = true;
        }
        // Stopped without finishing, or after a failure: given back unwritten.
        if (!failed_ && !stopping_) Write(*slot);
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
            free_[static_cast<std::size_t>(freeCount_++)] = slot;
        }
        clock_->WorkDone();
    }
}

void FramePipeline::Write(Slot& slot) {
    const std::int64_t begin = clock_->timeGetTime();
    vfw::HRESULT result = vfw::AVIERR_OK;
    try {
        result = write_(slot.frame, slot.index);
    } catch (...) {
        thrown_ = std::current_exception();
        result = vfw::AVIERR_ERROR;
    }
    const std::int64_t took = clock_->timeGetTime() - begin;
    if (result != vfw::AVIERR_OK) {
        failure_ = result;
        systemError_ = vfw::AVIGetLastSystemError();
        failed_ = true;
        return;
    }
    const std::int32_t n = written_;
    std::int64_t& cell = writeMs_[static_cast<std::size_t>(n % kWindow)];
    windowSum_ += took - cell;
    cell = took;
    lastInterval_ = slot.elapsed - lastElapsed_;
    lastElapsed_ = slot.elapsed;
    lastIndex_ = slot.index;
    written_ = n + 1;
}

}  // namespace velmora::engine
