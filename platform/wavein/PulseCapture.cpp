// PulseAudio capture on a private pa_mainloop that the capture thread runs
// itself: reads block in the main loop's poll, so the server paces them, and
// pa_mainloop_wakeup interrupts them from other threads.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>

#include "platform/wavein/CaptureBackend.h"

namespace velmora::platform::wavein {
namespace {

constexpr int kConnectTimeoutMs = 3000;
// A frozen server never completes an operation; nobody waits longer than this.
constexpr auto kOperationLimit = std::chrono::seconds(2);

// One main-loop pass that waits at most timeoutMs; false when the loop broke.
bool iterate(pa_mainloop* ml, int timeoutMs) {
    if (pa_mainloop_prepare(ml, timeoutMs < 0 ? -1 : timeoutMs * 1000) < 0) return false;
    if (pa_mainloop_poll(ml) < 0) return false;
    return pa_mainloop_dispatch(ml) >= 0;
}

struct Connection {
    pa_mainloop* ml = nullptr;
    pa_context* ctx = nullptr;
    bool silent = false;  // the connection timed out

    ~Connection() {
        if (ctx) {
            pa_context_disconnect(ctx);
            pa_context_unref(ctx);
        }
        if (ml) pa_mainloop_free(ml);
    }

    bool connect(std::string& error) {
        ml = pa_mainloop_new();
        ctx = pa_context_new(pa_mainloop_get_api(ml), "Velmora");
        if (!ctx || pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = "no sound server";
            return false;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
        for (;;) {
            const pa_context_state_t s = pa_context_get_state(ctx);
            if (s == PA_CONTEXT_READY) return true;
            if (PA_CONTEXT_IS_GOOD(s) && std::chrono::steady_clock::now() > deadline) {
                // Something holds the server's socket but does not answer.
                silent = true;
                error = "the sound server does not answer";
                return false;
            }
            if (!PA_CONTEXT_IS_GOOD(s) || !iterate(ml, 100)) {
                error = pa_strerror(pa_context_errno(ctx));
                return false;
            }
        }
    }

    // Runs the loop until the operation is done, the connection fails or
    // the time is up.
    void wait(pa_operation* op) {
        if (!op) return;
        const auto deadline = std::chrono::steady_clock::now() + kOperationLimit;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
               pa_context_get_state(ctx) == PA_CONTEXT_READY &&
               std::chrono::steady_clock::now() < deadline && iterate(ml, 200)) {
        }
        if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
        pa_operation_unref(op);
    }
};

class PulseCapture final : public CaptureBackend {
  public:
    Connection conn;
    pa_stream* stream = nullptr;
    std::atomic<bool> wakeRequested{false};
    const char* fragment = nullptr;
    std::size_t fragmentLength = 0, fragmentOffset = 0;
    std::int64_t fragmentTime = -1, readTime = -1;
    std::uint32_t byteRate = 0;
    std::uint64_t holeBytes = 0;

    ~PulseCapture() override {
        if (stream) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
    }

    bool setRunning(bool on, std::string& error) override {
        if (!streamGood(error)) return false;
        conn.wait(pa_stream_cork(stream, on ? 0 : 1, nullptr, nullptr));
        if (!on) {
            // Whatever was captured before the stop must not leak into the next start.
            dropFragment();
            conn.wait(pa_stream_flush(stream, nullptr, nullptr));
        }
        return streamGood(error);
    }

    long read(char* dst, std::size_t max, int timeoutMs, std::string& error) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (fragment) {
                const std::size_t n = std::min(max, fragmentLength - fragmentOffset);
                std::copy_n(fragment + fragmentOffset, n, dst);
                readTime =
                    fragmentTime < 0
                        ? -1
                        : fragmentTime + static_cast<std::int64_t>(fragmentOffset * 1e9 / byteRate);
                fragmentOffset += n;
                if (fragmentOffset == fragmentLength) dropFragment();
                return static_cast<long>(n);
            }
            if (!streamGood(error)) return -1;
            const std::size_t readable = pa_stream_readable_size(stream);
            if (readable != static_cast<std::size_t>(-1) && readable > 0) {
                const void* data = nullptr;
                std::size_t length = 0;
                if (pa_stream_peek(stream, &data, &length) < 0) {
                    error = pa_strerror(pa_context_errno(conn.ctx));
                    return -1;
                }
                if (length == 0) continue;
                if (data == nullptr) {  // a hole: that span was never captured
                    holeBytes += length;
                    pa_stream_drop(stream);
                    continue;
                }
                fragment = static_cast<const char*>(data);
                fragmentLength = length;
                fragmentOffset = 0;
                fragmentTime = captureTimeOfReadIndex();
                continue;
            }
            if (wakeRequested.exchange(false)) return 0;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return 0;
            if (!iterate(conn.ml, static_cast<int>(left))) {
                error = "sound server connection broke";
                return -1;
            }
        }
    }

    void wake() override {
        wakeRequested = true;
        pa_mainloop_wakeup(conn.ml);
    }

    std::int64_t lastReadCaptureTime() override { return readTime; }
    std::uint64_t takeHoleBytes() override { return std::exchange(holeBytes, 0); }

  private:
    bool streamGood(std::string& error) {
        if (pa_context_get_state(conn.ctx) != PA_CONTEXT_READY) {
            error = "the sound server went away";
            return false;
        }
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            error = "the sound source was removed";
            return false;
        }
        return true;
    }

    void dropFragment() {
        if (fragment) pa_stream_drop(stream);
        fragment = nullptr;
        fragmentLength = fragmentOffset = 0;
    }

    // The server's latency of a record stream is the age of the sample at
    // the read index.
    std::int64_t captureTimeOfReadIndex() {
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &latency, &negative) != 0) return -1;
        const auto age = static_cast<std::int64_t>(latency) * 1000;
        return steadyNowNs() - (negative ? -age : age);
    }
};

void collectSource(pa_context*, const pa_source_info* info, int eol, void* user) {
    if (eol || !info) return;
    static_cast<std::vector<SourceInfo>*>(user)->push_back(
        {info->name ? info->name : "", info->description ? info->description : ""});
}

}  // namespace

SoundServer pulseServer() {
    Connection c;
    std::string error;
    if (c.connect(error)) return SoundServer::Answers;
    return c.silent ? SoundServer::Silent : SoundServer::Absent;
}

std::vector<SourceInfo> pulseSources() {
    std::vector<SourceInfo> sources;
    Connection c;
    std::string error;
    if (c.connect(error)) c.wait(pa_context_get_source_info_list(c.ctx, collectSource, &sources));
    return sources;
}

std::unique_ptr<CaptureBackend> openPulse(const std::string& source, const WAVEFORMATEX& format,
                                          std::string& error, MMRESULT& code) {
    auto capture = std::make_unique<PulseCapture>();
    if (!capture->conn.connect(error)) {
        code = MMSYSERR_NODRIVER;
        return nullptr;
    }
    pa_sample_spec sampleFormat{};
    sampleFormat.format = format.wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sampleFormat.rate = format.nSamplesPerSec;
    sampleFormat.channels = static_cast<std::uint8_t>(format.nChannels);
    capture->byteRate = format.nAvgBytesPerSec;
    // Named after its input, so that the desktop's sound settings tell our
    // two streams apart.
    std::vector<SourceInfo> input;
    if (!source.empty())
        capture->conn.wait(pa_context_get_source_info_by_name(capture->conn.ctx, source.c_str(),
                                                              collectSource, &input));
    const std::string title = !input.empty() && !input.front().description.empty()
                                  ? input.front().description
                              : source.empty() ? std::string("default input")
                                               : source;
    capture->stream =
        pa_stream_new(capture->conn.ctx, ("Velmora: " + title).c_str(), &sampleFormat, nullptr);
    if (!capture->stream) {
        code = WAVERR_BADFORMAT;
        error = pa_strerror(pa_context_errno(capture->conn.ctx));
        return nullptr;
    }
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    // 25 ms fragments, with the source asked for that latency: otherwise an
    // idle source keeps its longest latency, sound comes in bursts of seconds
    // and the end of a recording is still in the server at the stop.
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(25000, &sampleFormat));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY |
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(capture->stream, source.empty() ? nullptr : source.c_str(), &attr,
                                 flags) < 0) {
        code = MMSYSERR_ALLOCATED;
        error = pa_strerror(pa_context_errno(capture->conn.ctx));
        return nullptr;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    for (;;) {
        const pa_stream_state_t s = pa_stream_get_state(capture->stream);
        if (s == PA_STREAM_READY) return capture;
        if (!PA_STREAM_IS_GOOD(s) || std::chrono::steady_clock::now() > deadline ||
            !iterate(capture->conn.ml, 100)) {
            code = MMSYSERR_ALLOCATED;
            error = pa_strerror(pa_context_errno(capture->conn.ctx));
            return nullptr;
        }
    }
}

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace velmora::platform::wavein
