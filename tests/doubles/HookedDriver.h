#pragma once
// A compressor driver that stores frames uncompressed, like the built-in
// 'DIB ' driver it wraps, under its own handler and name, and runs a hook
// before each frame: a test sees or shapes what the compression does.

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "engine/vfw/Compressors.h"

namespace velmora::test {

class HookedDriver : public vfw::ICDriver {
  public:
    HookedDriver(vfw::FOURCC handler, std::string name)
        : handler_(handler),
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
        return std::make_unique<Hooked>(*this, std::move(inner));
    }

    // Runs on the compressing thread before each frame; set before recording.
    std::function<void()> beforeCompress;
    // Frames whose compression has begun and ended.
    std::atomic<int> begun{0}, ended{0};

  private:
    class Hooked : public vfw::ICCompressor {
      public:
        Hooked(HookedDriver& driver, std::unique_ptr<vfw::ICCompressor> inner)
            : driver_(driver), inner_(std::move(inner)) {}
        bool describe(AVCodecParameters* par) const override { return inner_->describe(par); }
        vfw::HRESULT compress(const void* bits, std::size_t size, AVPacket* pkt) override {
            ++driver_.begun;
            if (driver_.beforeCompress) driver_.beforeCompress();
            const vfw::HRESULT result = inner_->compress(bits, size, pkt);
            ++driver_.ended;
            return result;
        }
        std::string muxerOptions() const override { return inner_->muxerOptions(); }

      private:
        HookedDriver& driver_;
        std::unique_ptr<vfw::ICCompressor> inner_;
    };

    vfw::FOURCC handler_;
    std::string name_;
    std::shared_ptr<vfw::ICDriver> base_;
};

}  // namespace velmora::test
