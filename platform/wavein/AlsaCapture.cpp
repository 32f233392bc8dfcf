// ALSA capture from the "default" PCM where no sound server answers. Reads
// wait in poll() on the PCM's descriptors plus an eventfd that other threads
// signal to interrupt them.

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <utility>
#include <vector>

#include "platform/wavein/CaptureBackend.h"

namespace velmora::platform::wavein {
namespace {

snd_pcm_format_t alsaFormat(const WAVEFORMATEX& f) {
    return f.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
}

// Opens "default" and sets the format; nullptr with the reason otherwise.
snd_pcm_t* openPcm(const WAVEFORMATEX& f, bool configure, std::string& error, MMRESULT& code) {
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (rc < 0) {
        error = snd_strerror(rc);
        code = MMSYSERR_NODRIVER;
        return nullptr;
    }
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_hw_params_any(pcm, hw);
    unsigned rate = f.nSamplesPerSec;
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, alsaFormat(f)) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, f.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0) {
        snd_pcm_close(pcm);
        error = "format not supported";
        code = WAVERR_BADFORMAT;
        return nullptr;
    }
    if (configure) {
        unsigned buffer = 500000, period = 25000;
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer, nullptr);
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &period, nullptr);
        if ((rc = snd_pcm_hw_params(pcm, hw)) < 0) {
            snd_pcm_close(pcm);
            error = snd_strerror(rc);
            code = MMSYSERR_ALLOCATED;
            return nullptr;
        }
    }
    return pcm;
}

class AlsaCapture final : public CaptureBackend {
  public:
    snd_pcm_t* pcm = nullptr;
    int wakeFd = -1;
    unsigned frameBytes = 1, rate = 1;
    std::int64_t readTime = -1;
    std::uint32_t overruns = 0;

    ~AlsaCapture() override {
        if (pcm) snd_pcm_close(pcm);
        if (wakeFd >= 0) ::close(wakeFd);
    }

    bool setRunning(bool on, std::string& error) override {
        int rc = on ? snd_pcm_prepare(pcm) : snd_pcm_drop(pcm);
        if (rc == 0 && on) rc = snd_pcm_start(pcm);
        if (rc < 0) error = snd_strerror(rc);
        return rc == 0;
    }

    long read(char* dst, std::size_t max, int timeoutMs, std::string& error) override {
        const int count = snd_pcm_poll_descriptors_count(pcm);
        std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
        snd_pcm_poll_descriptors(pcm, fds.data(), static_cast<unsigned>(count));
        fds[static_cast<std::size_t>(count)] = {wakeFd, POLLIN, 0};
        const int rc = ::poll(fds.data(), fds.size(), timeoutMs);
        if (rc <= 0) return 0;
        if (fds[static_cast<std::size_t>(count)].revents & POLLIN) {
            eventfd_t v;
            eventfd_read(wakeFd, &v);
            return 0;
        }
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(pcm, fds.data(), static_cast<unsigned>(count), &revents);
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
            if (snd_pcm_state(pcm) == SND_PCM_STATE_XRUN) return recover(-EPIPE, error);
            error = "the capture device was removed";
            return -1;
        }
        if (!(revents & POLLIN)) return 0;
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm, &delay) < 0) delay = 0;
        const snd_pcm_sframes_t n = snd_pcm_readi(pcm, dst, max / frameBytes);
        if (n == -EAGAIN) return 0;
        if (n < 0) return recover(static_cast<int>(n), error);
        readTime = steadyNowNs() - static_cast<std::int64_t>(delay) * 1000000000 / rate;
        return static_cast<long>(n * frameBytes);
    }

    void wake() override { eventfd_write(wakeFd, 1); }
    std::int64_t lastReadCaptureTime() override { return readTime; }
    std::uint32_t takeOverruns() override { return std::exchange(overruns, 0u); }

  private:
    long recover(int err, std::string& error) {
        // An overrun loses sound but not the device; anything else ends it.
        if (err == -EPIPE) ++overruns;
        if (snd_pcm_recover(pcm, err, 1) == 0 && snd_pcm_start(pcm) == 0) return 0;
        error = snd_strerror(err);
        return -1;
    }
};

}  // namespace

bool alsaQuery(const WAVEFORMATEX& format, MMRESULT& code) {
    std::string error;
    snd_pcm_t* pcm = openPcm(format, false, error, code);
    if (!pcm) return false;
    snd_pcm_close(pcm);
    return true;
}

std::unique_ptr<CaptureBackend> openAlsa(const WAVEFORMATEX& format, std::string& error,
                                         MMRESULT& code) {
    auto capture = std::make_unique<AlsaCapture>();
    capture->pcm = openPcm(format, true, error, code);
    if (!capture->pcm) return nullptr;
    capture->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    capture->frameBytes = format.nBlockAlign ? format.nBlockAlign : 1;
    capture->rate = format.nSamplesPerSec ? format.nSamplesPerSec : 1;
    return capture;
}

}  // namespace velmora::platform::wavein
