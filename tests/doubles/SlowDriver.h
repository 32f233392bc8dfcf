#pragma once
// A compressor driver that takes a set time of the fake clock for every
// frame and otherwise stores the frames uncompressed, like the built-in
// 'DIB ' driver it wraps.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "engine/vfw/Compressors.h"
#include "tests/doubles/FakeClock.h"

namespace velmora::test {

class SlowDriver : public vfw::ICDriver {
  public:
    SlowDriver(FakeClock& clock, vfw::FOURCC handler, std::string name)
        : clock_(clock),
          handler_(handler),
          name_(std::move(name)),
          base_(vfw::ICGetBuiltinDriver(vfw::MakeFourCC('D', 'I', 'B', ' '))) {}

    void getInfo(vfw::ICINFO& info) const override {
        base_->getInfo(info);
        info.fccHandler = handler_;
        std::memset(info.szName, 0, sizeof info.szName);
        for (std::size_t i = 0; i < name_.size() && i < 15; ++i)
            info.szName[i] = static_cast<char16_t>(name_[i]);
    }
    vfw::LRESULT compressQuery(const vfw::BITMAPINFO* in,
                               const vfw::BITMAPINFO* out) const override {
        return base_->compressQuery(in, out);
    }
    std::unique_ptr<vfw::ICCompressor> openCompressor(const vfw::ICCOMPRESSSETUP& setup,
                                                      vfw::HRESULT* error) override {
        auto inner = base_->openCompressor(setup, error);
        if (!inner) return nullptr;
        return std::make_unique<Slow>(*this, std::move(inner));
    }

    // Fake ms each frame takes.
    std::atomic<std::int64_t> costMs{0};
    // Frames whose compression has begun and ended.
    std::atomic<int> begun{0}, ended{0};

  private:
    class Slow : public vfw::ICCompressor {
      public:
        Slow(SlowDriver& driver, std::unique_ptr<vfw::ICCompressor> inner)
            : driver_(driver), inner_(std::move(inner)) {}
        bool describe(AVCodecParameters* par) const override { return inner_->describe(par); }
        vfw::HRESULT compress(const void* bits, std::size_t size, AVPacket* pkt) override {
            ++driver_.begun;
            // A frame of the capture loop takes the writer's time, which the
            // loop's thread moves; one outside it (a probe) takes the caller's.
            FakeClock& clock = driver_.clock_;
            if (clock.WorkPending())
                clock.WaitUntil(clock.Now() + driver_.costMs);
            else
                clock.Advance(driver_.costMs);
            const vfw::HRESULT result = inner_->compress(bits, size, pkt);
            ++driver_.ended;
            return result;
        }
        std::string muxerOptions() const override { return inner_->muxerOptions(); }

      private:
        SlowDriver& driver_;
        std::unique_ptr<vfw::ICCompressor> inner_;
    };

    FakeClock& clock_;
    vfw::FOURCC handler_;
    std::string name_;
    std::shared_ptr<vfw::ICDriver> base_;
};

}  // namespace velmora::test
