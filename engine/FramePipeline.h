#pragma once
// The capture loop's second stage: frames grabbed at their due time wait in
// a few slots allocated once per recording, and one compression thread
// writes them in the order they were queued. When every slot is taken the
// grab stage has nowhere to put a frame: that frame is dropped, so nothing
// ever waits without bound and the grab never waits for the codec.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/EngineClock.h"
#include "engine/PackedDib.h"
#include "engine/vfw/Vfw.h"

namespace velmora::engine {

class FramePipeline {
  public:
    static constexpr int kSlots = 3;

    struct Slot {
        PackedDib frame = nullptr;
        std::int32_t index = 0;    // the frame's sample number
        std::int64_t elapsed = 0;  // ms of recording time at its grab
    };
    // Writes one frame at its sample number; runs on the compression thread.
    using WriteFn = std::function<vfw::HRESULT(PackedDib frame, std::int32_t index)>;

    // Frames of the format (a DIB or a 4:2:0 frame); Ready() is false when
    // they cannot be allocated.
    FramePipeline(const vfw::BITMAPINFOHEADER& format, std::shared_ptr<TEngineClock> clock,
                  WriteFn write);
    // Stops the thread; frames still queued are not written (see Finish).
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    bool Ready() const { return ready_; }
    // Starts the compression thread. False when it cannot be started.
    bool Start();

    // Grab stage. A free slot, or null while every slot is queued or being
    // written.
    Slot* Acquire();
    // Hands a filled slot to the compression stage.
    void Queue(Slot* slot);
    // Gives back a slot that is not to be written.
    void Return(Slot* slot);
    // Writes every frame still queued (none after a failure), then ends the
    // thread. Rethrows what the write threw.
    void Finish();

    // A write failed; later frames are not written.
    bool Failed() const { return failed_; }
    vfw::HRESULT FailureResult() const { return failure_; }
    // AVIGetLastSystemError of the failed write (it is per thread).
    int FailureSystemError() const { return systemError_; }

    std::int32_t Written() const { return written_; }
    // ms of recording time between the last two written frames.
    std::int64_t LastIntervalMs() const { return lastInterval_; }
    std::int32_t LastWrittenIndex() const { return lastIndex_; }
    // Frames grabbed and not yet written (queued or being written).
    int Pending() const;

    // Mean ms the write of one frame took over the last kWindow frames, -1
    // until that many were written.
    double MeanWriteMs() const;
    static constexpr int kWindow = 10;

    // The failed write threw (Finish rethrows it).
    bool Threw() const { return failed_ && thrown_; }

  private:
    void Run();
    void Write(Slot& slot);
    // Waits for the thread to end.
    void Join();

    std::shared_ptr<TEngineClock> clock_;
    WriteFn write_;
    std::array<Slot, kSlots> slots_{};
    bool ready_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // Queued slots in order, and free slots: fixed arrays, no allocation per frame.
    std::array<Slot*, kSlots> queue_{};
    int queueHead_ = 0, queueCount_ = 0;
    std::array<Slot*, kSlots> free_{};
    int freeCount_ = 0;
    bool busy_ = false;  // the thread is writing a slot it took
    bool finishing_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;

    std::atomic<bool> failed_{false};
    vfw::HRESULT failure_ = vfw::AVIERR_OK;
    int systemError_ = 0;
    std::exception_ptr thrown_;
    std::atomic<std::int32_t> written_{0};
    std::atomic<std::int64_t> lastInterval_{0};
    std::atomic<std::int32_t> lastIndex_{0};
    std::int64_t lastElapsed_ = 0;
    std::array<std::int64_t, kWindow> writeMs_{};
    std::atomic<std::int64_t> windowSum_{0};
};

}  // namespace velmora::engine
