#include "engine/SoundMix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "engine/WaveHeader.h"
#include "engine/encode/SoundPlacement.h"

namespace velmora::engine {

SoundLimiter::SoundLimiter(unsigned channels, std::uint32_t samplesPerSecond)
    : channels_(std::max(channels, 1u)),
      half_(std::max<std::size_t>(
          1, static_cast<std::size_t>(samplesPerSecond * kLookAheadMs / 2000.0))),
      release_(1.0 -
               std::exp(-1000.0 / (kReleaseMs * std::max<std::uint32_t>(samplesPerSecond, 1)))) {
    // A lead-in of silence: the first frames have a look-back like the others.
    const std::vector<float> silence(channels_, 0.0f);
    std::vector<float> none;
    for (std::size_t i = 0; i < 2 * half_; ++i) Take(silence.data(), false, none);
}

void SoundLimiter::Push(const float* samples, std::size_t frames, std::vector<float>& out) {
    for (std::size_t i = 0; i < frames; ++i) Take(samples + i * channels_, true, out);
}

void SoundLimiter::Finish(std::vector<float>& out) {
    // Silence after the end lets the last frames look ahead as far as the others.
    const std::vector<float> silence(channels_, 0.0f);
    for (std::size_t i = 0; i < 2 * half_; ++i) Take(silence.data(), false, out);
    pending_.clear();
    real_.clear();
}

// Frame n needs the gain need(n) = ceiling / its peak (1 when under the
// ceiling). Each frame's minimum is the least need within `half_` frames of
// it; a frame's gain is the mean of the minima within `half_` frames of it.
// Every one of those minima counts the frame's own need, so the gain never
// exceeds it, and the mean makes the gain fall smoothly before a peak. So a
// frame goes out once the frames `2 * half_` after it are in.
void SoundLimiter::Take(const float* frame, bool real, std::vector<float>& out) {
    const std::int64_t n = taken_++;
    const std::size_t span = 2 * half_;
    float peak = 0.0f;
    for (unsigned c = 0; c < channels_; ++c) peak = std::max(peak, std::abs(frame[c]));
    const double need = peak > kCeiling ? kCeiling / peak : 1.0;
    while (!least_.empty() && least_.back().second >= need) least_.pop_back();
    least_.emplace_back(n, need);
    while (least_.front().first < n - static_cast<std::int64_t>(span)) least_.pop_front();
    // The lead-in is looked at, never put out.
    if (n >= static_cast<std::int64_t>(span)) {
        pending_.insert(pending_.end(), frame, frame + channels_);
        real_.push_back(real);
        // The minimum of the frame `half_` back, whose window ends here.
        minima_.push_back(least_.front().second);
        minimaSum_ += minima_.back();
        if (minima_.size() > span + 1) {
            minimaSum_ -= minima_.front();
            minima_.pop_front();
        }
    }
    if (minima_.size() < span + 1 || real_.size() < span + 1) return;
    // The frame `2 * half_` back has every minimum it needs.
    const double mean = minimaSum_ / static_cast<double>(span + 1);
    gain_ = std::min(mean, gain_ + (1.0 - gain_) * release_);
    if (real_.front())
        for (unsigned c = 0; c < channels_; ++c) {
            const double sample = pending_[c] * gain_;
            // The sums above cannot reach past the ceiling; rounding might.
            out.push_back(static_cast<float>(std::clamp(sample, -kCeiling, kCeiling)));
        }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(channels_));
    real_.pop_front();
}

namespace {

constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::size_t kChunkFrames = 16384;

class Fd {
  public:
    Fd(const std::string& name, int flags, mode_t mode = 0)
        : fd_(::open(name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode)) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    bool Good() const { return fd_ >= 0; }
    // Bytes read at `at`, at most n (fewer at the end), -1 on a failure.
    long Read(std::int64_t at, char* to, std::size_t n) const {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(fd_, to + done, n - done,
                                        static_cast<off_t>(at + static_cast<std::int64_t>(done)));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return -1;
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return static_cast<long>(done);
    }
    bool Write(const void* from, std::size_t n) {
        const char* p = static_cast<const char*>(from);
        while (n > 0) {
            const ssize_t put = ::write(fd_, p, n);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            p += put;
            n -= static_cast<std::size_t>(put);
        }
        return true;
    }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

void PutU16(std::vector<char>& b, std::uint16_t v) {
    b.push_back(static_cast<char>(v & 0xff));
    b.push_back(static_cast<char>(v >> 8));
}
void PutU32(std::vector<char>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
std::uint32_t SizeField(std::int64_t size) {
    return size > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

// The 44-byte header of a PCM file whose sound is dataSize bytes.
std::vector<char> WaveHeader(const WaveData& f, std::int64_t dataSize) {
    std::vector<char> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    PutU32(h, SizeField(36 + dataSize + (dataSize & 1)));
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutU32(h, 16);
    PutU16(h, kWaveFormatPcm);
    PutU16(h, f.channels);
    PutU32(h, f.samplesPerSec);
    PutU32(h, f.samplesPerSec * f.blockAlign);
    PutU16(h, f.blockAlign);
    PutU16(h, f.bitsPerSample);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    PutU32(h, SizeField(dataSize));
    return h;
}

float SampleOf(const char* p, unsigned bits) {
    if (bits == 8) return (static_cast<float>(static_cast<unsigned char>(*p)) - 128.0f) / 128.0f;
    const auto s = static_cast<std::int16_t>(static_cast<unsigned char>(p[0]) |
                                             static_cast<unsigned char>(p[1]) << 8);
    return static_cast<float>(s) / 32768.0f;
}

void PutSample(std::vector<char>& out, float v, unsigned bits) {
    if (bits == 8) {
        const long q = std::lround(v * 128.0f) + 128;
        out.push_back(static_cast<char>(std::clamp(q, 0L, 255L)));
        return;
    }
    const auto q = static_cast<std::uint16_t>(
        static_cast<std::int16_t>(std::clamp(std::lround(v * 32768.0f), -32768L, 32767L)));
    out.push_back(static_cast<char>(q & 0xff));
    out.push_back(static_cast<char>(q >> 8));
}

// One input's sound as the mix reads it: from its file, through its
// placement, silence after its end.
class PlacedInput {
  public:
    PlacedInput(const std::string& name, const WaveData& w, const SoundPlacing& placing)
        : in_(name, O_RDONLY),
          w_(w),
          placement_(placing, static_cast<int>(w.samplesPerSec), w.blockAlign,
                     w.bitsPerSample == 8 ? 0x80 : 0) {}
    bool Good() const { return in_.Good(); }
    std::int64_t Frames() const { return placement_.PlacedFrames(w_.size / w_.blockAlign); }

    // Fills raw with the next n frames; false when the file cannot be read.
    bool Take(std::size_t n, std::vector<std::uint8_t>& raw) {
        const std::size_t want = n * w_.blockAlign;
        while (placed_.size() - at_ < want && !finished_) {
            placed_.erase(placed_.begin(), placed_.begin() + static_cast<std::ptrdiff_t>(at_));
            at_ = 0;
            const std::int64_t left = w_.size / w_.blockAlign - read_;
            if (left <= 0) {
                placement_.Finish(placed_);
                finished_ = true;
                break;
            }
            const auto frames = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(kChunkFrames), left));
            chunk_.resize(frames * w_.blockAlign);
            if (in_.Read(w_.offset + read_ * w_.blockAlign, reinterpret_cast<char*>(chunk_.data()),
                         chunk_.size()) !=
                static_cast<long>(chunk_.size()))
                return false;
            read_ += static_cast<std::int64_t>(frames);
            placement_.Push(chunk_.data(), static_cast<std::int64_t>(frames), placed_);
        }
        raw.assign(want, w_.bitsPerSample == 8 ? 0x80 : 0);
        const std::size_t have = std::min(want, placed_.size() - at_);
        std::copy_n(placed_.begin() + static_cast<std::ptrdiff_t>(at_), have, raw.begin());
        at_ += have;
        return true;
    }

  private:
    Fd in_;
    const WaveData w_;
    SoundPlacement placement_;
    std::vector<std::uint8_t> placed_, chunk_;
    std::size_t at_ = 0;     // what of placed_ is taken
    std::int64_t read_ = 0;  // frames read from the file
    bool finished_ = false;
};

}  // namespace

bool MixWaveFiles(const std::string& first, const SoundPlacing& firstPlacing,
                  const std::string& second, const SoundPlacing& secondPlacing,
                  const std::string& mixed, std::string& error) {
    WaveData a, b;
    if (!ReadWaveData(first, a, error) || !ReadWaveData(second, b, error)) return false;
    const auto pcm = [](const WaveData& w) {
        return w.formatTag == kWaveFormatPcm && (w.bitsPerSample == 8 || w.bitsPerSample == 16) &&
               w.channels > 0 && w.blockAlign == w.channels * w.bitsPerSample / 8;
    };
    if (!pcm(a) || !pcm(b)) {
        error = "only 8- and 16-bit PCM can be mixed";
        return false;
    }
    if (a.channels != b.channels || a.bitsPerSample != b.bitsPerSample ||
        a.samplesPerSec != b.samplesPerSec) {
        error = "the two inputs were recorded in different formats";
        return false;
    }
    PlacedInput inA(first, a, firstPlacing), inB(second, b, secondPlacing);
    if (!inA.Good() || !inB.Good()) {
        error = std::strerror(errno);
        return false;
    }
    Fd out(mixed, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (!out.Good()) {
        error = mixed + ": " + std::strerror(errno);
        return false;
    }
    const unsigned channels = a.channels, bits = a.bitsPerSample, bytes = bits / 8;
    const std::int64_t frames = std::max(inA.Frames(), inB.Frames());
    const std::int64_t dataSize = frames * a.blockAlign;
    const auto writeFailed = [&] {
        error = mixed + ": " + std::strerror(errno ? errno : EIO);
        return false;
    };
    if (!out.Write(WaveHeader(a, dataSize).data(), 44)) return writeFailed();

    SoundLimiter limiter(channels, a.samplesPerSec);
    std::vector<std::uint8_t> rawA, rawB;
    std::vector<float> sum, limited;
    std::vector<char> encoded;
    const auto flush = [&] {
        encoded.clear();
        for (float v : limited) PutSample(encoded, v, bits);
        limited.clear();
        return out.Write(encoded.data(), encoded.size());
    };
    for (std::int64_t at = 0; at < frames; at += static_cast<std::int64_t>(kChunkFrames)) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(kChunkFrames), frames - at));
        if (!inA.Take(n, rawA) || !inB.Take(n, rawB)) {
            error = "cannot read the sound of the inputs";
            return false;
        }
        sum.resize(n * channels);
        for (std::size_t i = 0; i < n * channels; ++i) {
            sum[i] = SampleOf(reinterpret_cast<const char*>(&rawA[i * bytes]), bits) +
                     SampleOf(reinterpret_cast<const char*>(&rawB[i * bytes]), bits);
        }
        limiter.Push(sum.data(), n, limited);
        if (!flush()) return writeFailed();
    }
    limiter.Finish(limited);
    if (!flush()) return writeFailed();
    if (dataSize & 1) {
        const char pad = 0;
        if (!out.Write(&pad, 1)) return writeFailed();
    }
    if (!out.Close()) return writeFailed();
    return true;
}

}  // namespace velmora::engine
