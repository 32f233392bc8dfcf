// The built-in drivers: one table row per codec, one encoder wrapper for all
// libavcodec encoders and a pass-through for full frames.
//
// Quality (0..10000, 10000 the best the codec offers) on each codec's scale:
// - Xvid, MJPEG: fixed quantiser q = 2 + 29 * (10000 - quality) / 10000
//   (10000 -> 2, 0 -> 31); the driver's quantiser option, when not 0, wins.
// - x264: constant rate factor crf = 51 * (10000 - quality) / 10000, at least
//   1 (crf 0 would switch to the lossless profile few players decode).
// - ZMBV: zlib level 1 + 5 * quality / 10000 and a motion search of one
//   pixel each way (it is lossless; quality buys smaller files for more
//   time). libavcodec's defaults, level 9 and 8 pixels, compress a moving
//   720p screen at about 3 frames a second; the wider search and the levels
//   above 6 made files only 1-10% smaller (see zmbvSettings).
// - MS Video 1 has no quality setting in libavcodec; HuffYUV, FFV1 and full
//   frames are lossless: quality is not used.
// Key frame interval (0: 250, libavcodec's usual default) becomes the GOP:
// gop_size for Xvid, x264 and FFV1, keyint_min for ZMBV (its period) and
// for MS Video 1 (which counts the frames between key frames, so N - 1).
// Encoders run without B-frames or look-ahead and with slice threads only,
// so every frame written comes back compressed at once. Threads go only to
// the encoders that split a frame (see encoderThreads).

#include "engine/vfw/CodecDrivers.h"

#include <libyuv/convert_from_argb.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/vfw/PixelConversion.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace velmora::vfw {

namespace {

enum class Codec { MSVC, XVID, MJPG, H264, HFYU, ZMBV, FFV1, DIB };

struct CodecRow {
    Codec codec;
    FOURCC handler;
    const char16_t* name;
    const char16_t* description;
    const char* encoder;  // libavcodec encoder; null for full frames
    FOURCC tag;           // fourcc stored in the file (0: BI_RGB)
    std::vector<int> depths;
    int alignWidth;
    int alignHeight;
    DWORD flags;
};

// MS Video 1 is stored as 'MSVC', the handler the program asks for; players
// take 'MSVC' and 'CRAM' alike.
const std::vector<CodecRow>& rows() {
    static const std::vector<CodecRow> r = {
        {Codec::MSVC,
         MakeFourCC('M', 'S', 'V', 'C'),
         u"MS-CRAM",
         u"Microsoft Video 1",
         "msvideo1",
         MakeFourCC('M', 'S', 'V', 'C'),
         {8, 16, 24, 32},
         4,
         4,
         VIDCF_TEMPORAL},
        {Codec::XVID,
         MakeFourCC('X', 'V', 'I', 'D'),
         u"Xvid",
         u"Xvid MPEG-4 Codec",
         "libxvid",
         MakeFourCC('X', 'V', 'I', 'D'),
         {24, 32},
         2,
         2,
         VIDCF_QUALITY | VIDCF_TEMPORAL},
        {Codec::MJPG,
         MakeFourCC('M', 'J', 'P', 'G'),
         u"MJPEG",
         u"Motion JPEG",
         "mjpeg",
         MakeFourCC('M', 'J', 'P', 'G'),
         {24, 32},
         1,
         1,
         VIDCF_QUALITY},
        {Codec::H264,
         MakeFourCC('H', '2', '6', '4'),
         u"x264",
         u"H.264 (x264)",
         "libx264",
         MakeFourCC('H', '2', '6', '4'),
         {24, 32},
         2,
         2,
         VIDCF_QUALITY | VIDCF_TEMPORAL},
        {Codec::HFYU,
         MakeFourCC('H', 'F', 'Y', 'U'),
         u"HuffYUV",
         u"HuffYUV Lossless",
         "huffyuv",
         MakeFourCC('H', 'F', 'Y', 'U'),
         {24, 32},
         1,
         1,
         0},
        {Codec::ZMBV,
         MakeFourCC('Z', 'M', 'B', 'V'),
         u"ZMBV",
         u"Zip Motion Blocks Video",
         "zmbv",
         MakeFourCC('Z', 'M', 'B', 'V'),
         {8, 16, 32},
         1,
         1,
         VIDCF_QUALITY | VIDCF_TEMPORAL},
        {Codec::FFV1,
         MakeFourCC('F', 'F', 'V', '1'),
         u"FFV1",
         u"FFV1 Lossless",
         "ffv1",
         MakeFourCC('F', 'F', 'V', '1'),
         {24, 32},
         1,
         1,
         VIDCF_TEMPORAL},
        {Codec::DIB,
         MakeFourCC('D', 'I', 'B', ' '),
         u"Uncompressed",
         u"Full Frames (Uncompressed)",
         nullptr,
         0,
         {8, 16, 24, 32},
         1,
         1,
         0},
    };
    return r;
}

void copyName(char16_t* dst, std::size_t n, const char16_t* src) {
    std::size_t i = 0;
    for (; src[i] && i + 1 < n; ++i) dst[i] = src[i];
    dst[i] = 0;
}

int quantiserFor(DWORD quality) {
    return 2 + static_cast<int>(29 * (10000 - quality) / 10000);
}

// The 4:2:0 frames a codec takes as they are (0: none): those it codes
// from YUV 4:2:0, in the range it codes.
DWORD yuvInputOf(Codec codec) {
    switch (codec) {
        case Codec::XVID:
        case Codec::H264:
            return BI_I420;
        case Codec::MJPG:
            return BI_J420;
        default:
            return 0;
    }
}

std::string optionValue(const std::vector<ICCONFIGOPTION>& options, const char* key) {
    for (auto& o : options) {
        if (o.key == key) return o.value;
    }
    return {};
}

// Any libavcodec encoder fed from DIB rows.
class EncoderCompressor : public ICCompressor {
  public:
    ~EncoderCompressor() override {
        av_frame_free(&borrowed_);
        av_frame_free(&spare_);
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }

    HRESULT open(const CodecRow& row, const ICCOMPRESSSETUP& s,
                 const std::vector<ICCONFIGOPTION>& options) {
        const AVCodec* codec = avcodec_find_encoder_by_name(row.encoder);
        if (!codec) return AVIERR_NOCOMPRESSOR;
        ctx_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        spare_ = av_frame_alloc();
        borrowed_ = av_frame_alloc();
        if (!ctx_ || !frame_ || !spare_ || !borrowed_) return AVIERR_MEMORY;
        tag_ = row.tag;
        const BITMAPINFOHEADER& in = *s.input;
        const int bits = in.biBitCount;
        const int keyEvery = s.keyFrameEvery > 0 ? static_cast<int>(s.keyFrameEvery) : 250;

        ctx_->width = in.biWidth;
        ctx_->height = in.biHeight;
        ctx_->time_base = AVRational{static_cast<int>(s.scale), static_cast<int>(s.rate)};
        ctx_->framerate = AVRational{static_cast<int>(s.rate), static_cast<int>(s.scale)};
        ctx_->max_b_frames = 0;
        ctx_->gop_size = keyEvery;
        ctx_->thread_count = s.threads > 0 ? s.threads : encoderThreads(row.handler);
        ctx_->thread_type = FF_THREAD_SLICE;  // frame threads would delay the output

        AVPixelFormat fmt = AV_PIX_FMT_YUV420P;
        bool fullRange = false;
        switch (row.codec) {
            case Codec::MSVC:
                fmt = AV_PIX_FMT_RGB555LE;
                ctx_->keyint_min = keyEvery - 1;
                break;
            case Codec::XVID: {
                int q = std::atoi(optionValue(options, "quantizer").c_str());
                if (q <= 0) q = quantiserFor(s.quality);
                qscale_ = std::clamp(q, 1, 31) * FF_QP2LAMBDA;
                ctx_->flags |= AV_CODEC_FLAG_QSCALE;
                ctx_->global_quality = qscale_;
                break;
            }
            case Codec::MJPG: {
                int q = std::atoi(optionValue(options, "quantizer").c_str());
                if (q <= 0) q = quantiserFor(s.quality);
                q = std::clamp(q, 1, 31);
                qscale_ = q * FF_QP2LAMBDA;
                ctx_->flags |= AV_CODEC_FLAG_QSCALE;
                ctx_->global_quality = qscale_;
                ctx_->qmin = std::min(q, 2);
                ctx_->color_range = AVCOL_RANGE_JPEG;
                // Full-range 4:2:0 as JPEG has it; the yuvj formats are deprecated.
                fmt = AV_PIX_FMT_YUV420P;
                fullRange = true;
                break;
            }
            case Codec::H264: {
                std::string preset = optionValue(options, "preset");
                std::string tune = optionValue(options, "tune");
                av_opt_set(ctx_->priv_data, "preset", preset.empty() ? "ultrafast" : preset.c_str(),
                           0);
                // zerolatency: no B-frames, no look-ahead, sliced threads.
                tune = (tune.empty() || tune == "none") ? "zerolatency" : tune + ",zerolatency";
                av_opt_set(ctx_->priv_data, "tune", tune.c_str(), 0);
                const double crf = std::max(1.0, 51.0 * (10000 - s.quality) / 10000.0);
                av_opt_set_double(ctx_->priv_data, "crf", crf, 0);
                av_opt_set(ctx_->priv_data, "x264-params", "log=0", 0);  // errors only
                break;
            }
            case Codec::HFYU:
                // RGB keeps it lossless and takes any width.
                fmt = AV_PIX_FMT_RGB24;
                break;
            case Codec::ZMBV:
                fmt = bits == 8    ? AV_PIX_FMT_PAL8
                      : bits == 16 ? AV_PIX_FMT_RGB555LE
                                   : AV_PIX_FMT_BGR0;
                ctx_->keyint_min = keyEvery;
                ctx_->compression_level = zmbvSettings(s.quality).zlibLevel;
                ctx_->me_range = zmbvSettings(s.quality).motionRange;
                break;
            case Codec::FFV1:
                fmt = AV_PIX_FMT_BGR0;
                av_opt_set_int(ctx_->priv_data, "level", 3, 0);  // slices, so threads help
                av_opt_set_int(ctx_->priv_data, "slicecrc", 0, 0);
                break;
            case Codec::DIB:
                return AVIERR_INTERNAL;
        }
        ctx_->pix_fmt = fmt;
        if (fmt == AV_PIX_FMT_YUV420P) {
            // What the conversion writes, in the stream too (x264's VUI), so
            // players need not guess.
            ctx_->colorspace = AVCOL_SPC_SMPTE170M;
            ctx_->color_range = fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        }
        if (avcodec_open2(ctx_, codec, nullptr) < 0) return AVIERR_COMPRESSOR;

        frame_->format = fmt;
        frame_->width = ctx_->width;
        frame_->height = ctx_->height;
        if (av_frame_get_buffer(frame_, 0) < 0) return AVIERR_MEMORY;
        if (!converter_.init(in, s.colors, s.colorCount, fmt, fullRange,
                             BandsForSize(in.biWidth, in.biHeight)))
            return AVIERR_BADFORMAT;
        frameBytes_ = static_cast<std::size_t>(isYuvFormat(in.biCompression)
                                                   ? yuvLayout(in.biWidth, in.biHeight).total()
                                                   : dibRowBytes(in.biWidth, bits) * in.biHeight);
        // The slot holding the DIB is refilled as soon as compress returns, so
        // its rows go in as they are only to an encoder that has let go of
        // them by then: one that keeps no frames back (no delay, no frame
        // threads). libavcodec takes a reference to a frame with a buffer
        // instead of copying it; ZMBV and MS Video 1 walk the rows by
        // linesize, so bottom-up rows need no flip. FFV1 keeps a reference
        // to the last frame until the next one (and says it delays): copied.
        // x264 could delay, but with zerolatency (always set here) it copies
        // each picture in before it returns. compress() checks it all the
        // same on the first frame.
        borrow_ = s.borrowFrames && converter_.sameFormat() &&
                  (!(codec->capabilities & AV_CODEC_CAP_DELAY) || row.codec == Codec::H264) &&
                  !(ctx_->active_thread_type & FF_THREAD_FRAME);
        return AVIERR_OK;
    }

    bool borrowsFrames() const override { return borrow_; }

    bool describe(AVCodecParameters* par) const override {
        if (avcodec_parameters_from_context(par, ctx_) < 0) return false;
        par->codec_tag = tag_;
        return true;
    }

    HRESULT compress(const void* bits, std::size_t size, AVPacket* pkt) override {
        if (size < frameBytes_) return AVIERR_BUFFERTOOSMALL;
        // The first frame goes through our own buffer: if the encoder still
        // holds it after the packet came back, it keeps frames, and the
        // caller's rows must never be lent to it.
        const bool lend = borrow_ && pts_ > 0;
        AVFrame* frame = borrowed_;
        if (lend) {
            if (!converter_.borrow(static_cast<const std::uint8_t*>(bits), borrowed_)) {
                return AVIERR_MEMORY;
            }
        } else {
            if (!makeFrameWritable()) return AVIERR_MEMORY;
            frame = frame_;  // may be the other buffer now
            if (!converter_.convert(static_cast<const std::uint8_t*>(bits), frame_)) {
                return AVIERR_COMPRESSOR;
            }
        }
        frame->pts = pts_++;
        frame->quality = qscale_;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        const int sent = avcodec_send_frame(ctx_, frame);
        const int e = sent < 0 ? sent : avcodec_receive_packet(ctx_, pkt);
        const bool held = frame->buf[0] && av_buffer_get_ref_count(frame->buf[0]) > 1;
        if (held) borrow_ = false;
        if (lend) {
            av_frame_unref(borrowed_);
            // The encoder kept a reference to rows the caller is about to
            // overwrite: what it makes of them later cannot be trusted.
            if (held) return AVIERR_COMPRESSOR;
        }
        if (sent < 0) return AVIERR_COMPRESSOR;
        if (e < 0) return e == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_COMPRESSOR;
        return AVIERR_OK;
    }

  private:
    // An encoder that keeps its last input (FFV1 does) leaves frame_ shared.
    // The other frame is free again by then; taking it, or a fresh buffer,
    // spares the copy of stale rows av_frame_make_writable would make.
    bool makeFrameWritable() {
        if (av_frame_is_writable(frame_)) return true;
        std::swap(frame_, spare_);
        if (av_frame_is_writable(frame_)) return true;
        const AVFrame& shape = *spare_;
        av_frame_unref(frame_);
        frame_->format = shape.format;
        frame_->width = shape.width;
        frame_->height = shape.height;
        return av_frame_get_buffer(frame_, 0) >= 0;
    }

    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* spare_ = nullptr;     // frame_'s twin while the encoder holds one
    AVFrame* borrowed_ = nullptr;  // the caller's rows, during one compress call
    DibConverter converter_;
    bool borrow_ = false;
    FOURCC tag_ = 0;
    int qscale_ = 0;
    std::int64_t pts_ = 0;
    std::size_t frameBytes_ = 0;
};

// Full frames: the DIB rows stored bottom-up with BI_RGB. 32-bit rows go in
// as 24-bit ones: their fourth byte is 0, which readers take for alpha (a
// transparent, black picture), and FFmpeg's AVI muxer does not even mark
// them as 32-bit RGB without alpha.
class RawCompressor : public ICCompressor {
  public:
    explicit RawCompressor(const BITMAPINFOHEADER& in)
        : width_(in.biWidth),
          height_(in.biHeight),
          inBits_(in.biBitCount),
          bits_(in.biBitCount == 32 ? 24 : in.biBitCount),
          inStride_(dibRowBytes(in.biWidth, in.biBitCount)),
          stride_(dibRowBytes(in.biWidth, bits_)) {}

    bool describe(AVCodecParameters* par) const override {
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->codec_tag = 0;
        par->width = width_;
        par->height = height_;
        par->bits_per_coded_sample = bits_;
        par->format = dibPixelFormat(bits_);
        return true;
    }

    HRESULT compress(const void* bits, std::size_t size, AVPacket* pkt) override {
        if (size < static_cast<std::size_t>(inStride_ * height_)) return AVIERR_BUFFERTOOSMALL;
        if (av_new_packet(pkt, static_cast<int>(stride_ * height_)) < 0) return AVIERR_MEMORY;
        const auto* in = static_cast<const std::uint8_t*>(bits);
        if (inBits_ == bits_) {
            std::memcpy(pkt->data, in, static_cast<std::size_t>(stride_ * height_));
        } else {
            // libyuv's ARGB is B, G, R, A in memory and its RGB24 B, G, R: the
            // DIB orders of both depths. Row padding is written as zeros.
            if (stride_ != 3 * static_cast<std::int64_t>(width_))
                std::memset(pkt->data, 0, static_cast<std::size_t>(stride_ * height_));
            libyuv::ARGBToRGB24(in, static_cast<int>(inStride_), pkt->data,
                                static_cast<int>(stride_), width_, height_);
        }
        pkt->flags |= AV_PKT_FLAG_KEY;
        return AVIERR_OK;
    }

    std::string muxerOptions() const override { return "flipped_raw_rgb=1"; }

  private:
    int width_;
    int height_;
    int inBits_;
    int bits_;
    std::int64_t inStride_;
    std::int64_t stride_;
};

class CodecDriver : public ICDriver {
  public:
    explicit CodecDriver(const CodecRow& row) : row_(row) {
        if (row.codec == Codec::H264) {
            options_.push_back({"preset",
                                "Preset",
                                {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium",
                                 "slow", "slower", "veryslow"},
                                0,
                                0,
                                "ultrafast"});
            options_.push_back(
                {"tune",
                 "Tune",
                 {"none", "film", "animation", "grain", "stillimage", "psnr", "ssim"},
                 0,
                 0,
                 "none"});
        } else if (row.codec == Codec::XVID || row.codec == Codec::MJPG) {
            // 0: follow the quality setting.
            options_.push_back({"quantizer",
                                "Fixed quantizer, 1 (best) to 31 (smallest); 0 follows the "
                                "quality slider",
                                {},
                                0,
                                31,
                                "0"});
        }
    }

    void getInfo(ICINFO& info) const override {
        info = ICINFO{};
        info.dwSize = sizeof(ICINFO);
        info.fccType = ICTYPE_VIDEO;
        info.fccHandler = row_.handler;
        info.dwFlags = row_.flags;
        info.dwVersion = 0x00010000;
        info.dwVersionICM = 0x0104;
        copyName(info.szName, 16, row_.name);
        copyName(info.szDescription, 128, row_.description);
        copyName(info.szDriver, 128, row_.encoder ? u"libavcodec" : u"velmora");
    }

    LRESULT compressQuery(const BITMAPINFO* in, const BITMAPINFO* out) const override {
        if (!in) return ICERR_BADPARAM;
        const BITMAPINFOHEADER& bi = in->bmiHeader;
        if (bi.biPlanes > 1) return ICERR_BADFORMAT;
        if (isYuvFormat(bi.biCompression)) {
            if (bi.biCompression != yuvInputOf(row_.codec) || bi.biBitCount != 12)
                return ICERR_BADFORMAT;
        } else if (bi.biCompression != BI_RGB || std::find(row_.depths.begin(), row_.depths.end(),
                                                           bi.biBitCount) == row_.depths.end()) {
            return ICERR_BADFORMAT;
        }
        // Bottom-up frames only, and no larger than libavcodec takes.
        if (bi.biWidth <= 0 || bi.biHeight <= 0 || bi.biWidth > 16384 || bi.biHeight > 16384) {
            return ICERR_BADFORMAT;
        }
        if (bi.biWidth % row_.alignWidth != 0 || bi.biHeight % row_.alignHeight != 0) {
            return ICERR_BADFORMAT;
        }
        if (row_.encoder && !avcodec_find_encoder_by_name(row_.encoder)) return ICERR_UNSUPPORTED;
        if (out) {
            const BITMAPINFOHEADER& bo = out->bmiHeader;
            if (bo.biWidth != bi.biWidth || bo.biHeight != bi.biHeight ||
                bo.biCompression != row_.tag) {
                return ICERR_BADFORMAT;
            }
        }
        return ICERR_OK;
    }

    std::vector<ICCONFIGOPTION> options() const override {
        std::lock_guard lock(mutex_);
        return options_;
    }

    void setOptions(const std::vector<ICCONFIGOPTION>& edited) override {
        std::lock_guard lock(mutex_);
        for (auto& o : options_) {
            for (auto& e : edited) {
                if (e.key != o.key) continue;
                const bool ok =
                    o.choices.empty()
                        ? !e.value.empty() &&
                              e.value.find_first_not_of("0123456789") == std::string::npos &&
                              std::atoi(e.value.c_str()) >= o.minimum &&
                              std::atoi(e.value.c_str()) <= o.maximum
                        : std::find(o.choices.begin(), o.choices.end(), e.value) != o.choices.end();
                if (ok) o.value = e.value;
            }
        }
    }

    std::unique_ptr<ICCompressor> openCompressor(const ICCOMPRESSSETUP& setup,
                                                 HRESULT* error) override {
        HRESULT hr = AVIERR_OK;
        std::unique_ptr<ICCompressor> result;
        if (!setup.input || setup.rate == 0 || setup.scale == 0) {
            hr = AVIERR_BADPARAM;
        } else if (compressQuery(reinterpret_cast<const BITMAPINFO*>(setup.input), nullptr) !=
                   ICERR_OK) {
            hr = AVIERR_BADFORMAT;
        } else if (row_.codec == Codec::DIB) {
            result = std::make_unique<RawCompressor>(*setup.input);
        } else {
            auto enc = std::make_unique<EncoderCompressor>();
            hr = enc->open(row_, setup, options());
            if (hr == AVIERR_OK) result = std::move(enc);
        }
        if (error) *error = hr;
        return result;
    }

  private:
    const CodecRow& row_;
    mutable std::mutex mutex_;
    std::vector<ICCONFIGOPTION> options_;
};

}  // namespace

ZmbvSettings zmbvSettings(DWORD quality) {
    quality = std::min<DWORD>(quality, 10000);
    return {1 + static_cast<int>(5 * quality / 10000), 1};
}

int encoderThreads(FOURCC handler) {
    const int cores = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    // x264 and FFV1 cut a frame into slices, MJPEG into restart intervals.
    // libavcodec runs libxvid on one thread whatever it is asked (no thread
    // capability), and the others have no slice threads.
    if (handler == MakeFourCC('H', '2', '6', '4') || handler == MakeFourCC('F', 'F', 'V', '1') ||
        handler == MakeFourCC('M', 'J', 'P', 'G')) {
        return cores;
    }
    return 1;
}

void DescribeColours(AVCodecParameters* par) {
    if (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_MPEG4 &&
        par->codec_id != AV_CODEC_ID_MJPEG) {
        return;
    }
    par->color_space = AVCOL_SPC_SMPTE170M;
    par->color_range = par->codec_id == AV_CODEC_ID_MJPEG ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
}

const std::vector<std::shared_ptr<ICDriver>>& builtinDrivers() {
    static const std::vector<std::shared_ptr<ICDriver>> drivers = [] {
        std::vector<std::shared_ptr<ICDriver>> v;
        for (auto& row : rows()) v.push_back(std::make_shared<CodecDriver>(row));
        return v;
    }();
    return drivers;
}

}  // namespace velmora::vfw
