#include "audio/WaveUtils.h"

#include <QLocale>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "common/VolumeLaw.h"

namespace velmora::audio {
namespace {

struct CatalogueRow {
    const char* name;
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits;
};

constexpr CatalogueRow kCatalogue[PCMFormatCount + 1] = {
    {"nonePCM", 0, 0, 0},
    {"Mono8Bit8000Hz", 1, 8000, 8},
    {"Stereo8bit8000Hz", 2, 8000, 8},
    {"Mono16bit8000Hz", 1, 8000, 16},
    {"Stereo16bit8000Hz", 2, 8000, 16},
    {"Mono8bit11025Hz", 1, 11025, 8},
    {"Stereo8bit11025Hz", 2, 11025, 8},
    {"Mono16bit11025Hz", 1, 11025, 16},
    {"Stereo16bit11025Hz", 2, 11025, 16},
    {"Mono8bit22050Hz", 1, 22050, 8},
    {"Stereo8bit22050Hz", 2, 22050, 8},
    {"Mono16bit22050Hz", 1, 22050, 16},
    {"Stereo16bit22050Hz", 2, 22050, 16},
    {"Mono8bit44100Hz", 1, 44100, 8},
    {"Stereo8bit44100Hz", 2, 44100, 8},
    {"Mono16bit44100Hz", 1, 44100, 16},
    {"Stereo16bit44100Hz", 2, 44100, 16},
    {"Mono8bit48000Hz", 1, 48000, 8},
    {"Stereo8bit48000Hz", 2, 48000, 8},
    {"Mono16bit48000Hz", 1, 48000, 16},
    {"Stereo16bit48000Hz", 2, 48000, 16},
};

std::mutex& reporterMutex() {
    static std::mutex m;
    return m;
}
TExceptionReporter& reporter() {
    static TExceptionReporter r;
    return r;
}

std::string decimalSeparator() {
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? std::string(".") : point.toStdString();
}

std::uint32_t roundUpToBlock(std::uint32_t bytes, std::uint16_t blockAlign) {
    if (blockAlign > 1 && bytes % blockAlign != 0) bytes += blockAlign - bytes % blockAlign;
    return bytes;
}

}  // namespace

std::string PCMFormatName(TPCMFormat format) {
    return format <= PCMFormatCount ? kCatalogue[format].name : "";
}

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) return -1;
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    std::int64_t q = product / c;
    const std::int64_t r = product % c;
    // Round half away from zero: compare twice the remainder with the divisor.
    if (2 * std::llabs(r) >= std::llabs(static_cast<std::int64_t>(c)))
        q += ((product < 0) != (c < 0)) ? -1 : 1;
    return static_cast<std::int32_t>(q);
}

void FillPCMFormat(WAVEFORMATEX& record, unsigned value) {
    value &= 0x7F;
    if (value < 1 || value > PCMFormatCount) return;
    const CatalogueRow& row = kCatalogue[value];
    record.wFormatTag = platform::WAVE_FORMAT_PCM;
    record.nChannels = row.channels;
    record.nSamplesPerSec = row.rate;
    record.wBitsPerSample = row.bits;
    record.nBlockAlign = static_cast<std::uint16_t>(MulDiv(row.channels, row.bits, 8));
    record.nAvgBytesPerSec = record.nBlockAlign * row.rate;
    record.cbSize = 0;
}

std::string WaveFormatTagName(std::uint16_t tag) {
    switch (tag) {
        case 1:
            return "PCM";
        case 2:
            return "Microsoft ADPCM";
        case 3:
            return "PCM IEEE";
        case 4:
            return "VSELP";
        case 5:
            return "CSVD";
        case 6:
            return "A-Law";
        case 7:
            return "u-Law";
        case 8:
            return "DTS";
        case 17:
            return "IMA ADPCM";
        case 49:
            return "GSM 6.10";
        case 67:
            return "Microsoft G.723.1";
        case 80:
            return "MPEG";
        case 85:
            return "MPEG Layer-3";
        default:
            return "";
    }
}

std::string ChannelName(unsigned channels) {
    if (channels == 1) return "Mono";
    if (channels == 2) return "Stereo";
    return "";
}

std::string DescribeWaveFormat(const WAVEFORMATEX& record) {
    // Integer rates have an exact three-decimal kHz form; no float printing
    // means no dependence on the C library's numeric locale.
    char khz[48];
    std::snprintf(khz, sizeof khz, "%u%s%03u kHz", record.nSamplesPerSec / 1000,
                  decimalSeparator().c_str(), record.nSamplesPerSec % 1000);
    std::string text = khz;
    if (record.wBitsPerSample != 0) text += ", " + std::to_string(record.wBitsPerSample) + " Bit";
    if (record.nChannels == 1 || record.nChannels == 2)
        text += ", " + ChannelName(record.nChannels);
    else
        text += ", " + std::to_string(record.nChannels) + " Ch";
    const std::string tag = WaveFormatTagName(record.wFormatTag);
    return tag.empty() ? text : tag + ": " + text;
}

std::uint32_t BufferSizeForDuration(const PCMWAVEFORMAT& format, std::uint32_t ms) {
    const std::int32_t b = MulDiv(static_cast<std::int32_t>(ms),
                                  static_cast<std::int32_t>(format.nAvgBytesPerSec), 1000);
    return roundUpToBlock(static_cast<std::uint32_t>(b), format.nBlockAlign);
}

std::uint32_t BufferSizeForDuration(const WAVEFORMATEX& format, std::uint32_t ms) {
    PCMWAVEFORMAT pcm;
    std::memcpy(&pcm, &format, sizeof pcm);
    return BufferSizeForDuration(pcm, ms);
}

std::uint32_t BytesForDuration(const WAVEFORMATEX& format, std::uint32_t ms) {
    auto b = static_cast<std::uint32_t>(MulDiv(static_cast<std::int32_t>(format.nAvgBytesPerSec),
                                               static_cast<std::int32_t>(ms), 1000));
    if (format.nBlockAlign > 1) b -= b % format.nBlockAlign;
    return b;
}

std::uint32_t DurationForBytes(const WAVEFORMATEX& format, std::uint32_t bytes) {
    if (format.nAvgBytesPerSec == 0) return 0;
    // MulDiv's rounding in 64 bits: a data chunk past 2 GiB would turn
    // negative as a 32-bit MulDiv argument.
    const std::uint64_t rate = format.nAvgBytesPerSec;
    const std::uint64_t ms = (2000 * std::uint64_t{bytes} + rate) / (2 * rate);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UINT32_MAX));
}

int GetWaveAudioPeakLevel(const void* data, std::uint32_t count, unsigned bitsPerSample) {
    if (count == 0 || data == nullptr) return 0;
    if (bitsPerSample == 8) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        int peak = 0;
        for (std::uint32_t i = 0; i < count; ++i)
            if (p[i] >= 128 && (p[i] & 0x7F) > peak) peak = p[i] & 0x7F;
        return peak * 100 / 127;
    }
    if (bitsPerSample == 16) {
        int peak = 0;
        const auto* p = static_cast<const std::uint8_t*>(data);
        for (std::uint32_t i = 0; i + 1 < count; i += 2) {
            const auto s = static_cast<std::int16_t>(p[i] | (p[i + 1] << 8));
            if (s > peak) peak = s;
        }
        return peak * 100 / 32767;
    }
    return -1;
}

namespace {

// Scales PCM samples in place by factor / 2^20 (below 1), rounded to
// nearest the same both sides of zero.
void ScaleSamples(void* data, std::uint32_t count, unsigned bitsPerSample, std::int64_t factor) {
    const auto scaled = [factor](std::int64_t sample) {
        const std::int64_t magnitude = (std::abs(sample) * factor + (1 << 19)) >> 20;
        return sample < 0 ? -magnitude : magnitude;
    };
    auto* p = static_cast<std::uint8_t*>(data);
    if (bitsPerSample == 8) {
        for (std::uint32_t i = 0; i < count; ++i)
            p[i] = static_cast<std::uint8_t>(scaled(static_cast<int>(p[i]) - 128) + 128);
    } else if (bitsPerSample == 16) {
        for (std::uint32_t i = 0; i + 1 < count; i += 2) {
            const auto s = static_cast<std::int16_t>(p[i] | (p[i + 1] << 8));
            const auto out = static_cast<std::uint16_t>(scaled(s));
            p[i] = static_cast<std::uint8_t>(out & 0xff);
            p[i + 1] = static_cast<std::uint8_t>(out >> 8);
        }
    }
}

}  // namespace

void ScaleWaveAudio(void* data, std::uint32_t count, unsigned bitsPerSample, int percent) {
    if (data == nullptr || percent >= 100) return;
    // The factor in 1/2^20, exact enough for 16 bits.
    ScaleSamples(data, count, bitsPerSample, std::llround(VolumeFactor(percent) * (1 << 20)));
}

void SetWaveExceptionReporter(TExceptionReporter r) {
    std::lock_guard lock(reporterMutex());
    reporter() = std::move(r);
}

void ReportWaveException(const std::exception& error) {
    TExceptionReporter r;
    {
        std::lock_guard lock(reporterMutex());
        r = reporter();
    }
    if (r)
        r(error);
    else
        std::cerr << "Audio: " << error.what() << std::endl;
}

void TWaveEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    cv_.notify_all();
}

void TWaveEvent::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool TWaveEvent::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool TWaveEvent::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [this] { return set_; });
}

void TWaveEvent::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return set_; });
}

std::uint32_t MessageWait(TWaveEvent* handle, std::uint32_t timeout) {
    if (handle == nullptr) return WAIT_FAILED;
    if (timeout == INFINITE) {
        handle->Wait();
        return WAIT_OBJECT_0;
    }
    return handle->Wait(std::chrono::milliseconds(timeout)) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

}  // namespace velmora::audio
