#pragma once
// Fixtures of the engine tests: a fake desktop whose grabs take fake time, a
// compressor driver that accepts only chosen sizes, and an engine wired to a
// scripted host in a temporary output folder.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/ScreenCamera.h"
#include "engine/TempFiles.h"
#include "tests/doubles/FakeClock.h"
#include "tests/doubles/FakeDesktop.h"
#include "tests/doubles/ScriptedHost.h"

namespace velmora::enginetest {

using namespace velmora::engine;
using velmora::vfw::FOURCC;
using velmora::vfw::MakeFourCC;

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    // The folder with a trailing '/'.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Each grab advances the clock by grabCostMs, then calls onGrab with its number.
class ClockedDesktop : public test::FakeDesktop {
  public:
    ClockedDesktop(test::FakeClock& clock, int width, int height, int bitsPerPixel = 32)
        : FakeDesktop(width, height, bitsPerPixel), clock_(clock) {}
    bool grab(int left, int top, const platform::DibRows& out) override;

    std::atomic<int> grabCostMs{1};
    std::function<void(int number)> onGrab;
    std::atomic<int> grabs{0};

  private:
    test::FakeClock& clock_;
};

// A driver built on a built-in one that accepts only the sizes `accepts`
// allows and can be told to fail when compressing.
class SizeDriver : public vfw::ICDriver {
  public:
    SizeDriver(FOURCC handler, const char* shortName, std::function<bool(int, int)> accepts,
               FOURCC base = MakeFourCC('D', 'I', 'B', ' '));
    void getInfo(vfw::ICINFO& info) const override;
    vfw::LRESULT compressQuery(const vfw::BITMAPINFO* in,
                               const vfw::BITMAPINFO* out) const override;
    std::unique_ptr<vfw::ICCompressor> openCompressor(const vfw::ICCOMPRESSSETUP& setup,
                                                      vfw::HRESULT* error) override;

    mutable std::atomic<int> queries{0};
    mutable std::vector<std::pair<int, int>> queried;
    bool failOpen = false;   // AVIStreamSetFormat fails
    int failCompressAt = 0;  // this compressed frame (from 1) fails
    std::atomic<int> opened{0};

  private:
    FOURCC handler_;
    std::string shortName_;
    std::function<bool(int, int)> accepts_;
    std::shared_ptr<vfw::ICDriver> base_;
};

// A recorder that writes soundSeconds of a ramp (sample i holds i, 8 kHz mono
// 16-bit) when it is stopped, so a trimmed start shows in the first sample.
class FakeRecorder : public TEngineAudioRecorder {
  public:
    void SetPCMFormat(int format) override { Call("PCMFormat=" + std::to_string(format)); }
    void SetAsync(bool value) override { Call(value ? "Async=1" : "Async=0"); }
    bool RecordToFile(const std::string& fileName) override;
    bool Active() override { return active; }
    void SetActive(bool value) override;
    bool Stop() override {
        Call("Stop");
        return true;
    }
    bool WaitForInactive(int) override {
        Call("Wait");
        return !active;
    }
    int DefaultPCMFormat() override { return 8; }
    std::string FormatDescription(int format) override { return "F" + std::to_string(format); }
    void SetGain(int percent) override { Call("Gain=" + std::to_string(percent)); }
    void SetInput(const std::string& source, const std::string& title) override {
        Call("Input=" + source + "|" + title);
    }
    std::int64_t FirstSampleTime() override { return firstSampleNs; }
    TCorrections Corrections() override { return {0, 0, 0, 0, 0, 0, stalls}; }
    std::string SoundFailure() override { return failure; }
    int WriteError() override { return writeError; }
    bool PauseCapture(bool paused, std::int64_t) override {
        Call(paused ? "Pause" : "Resume");
        return true;
    }

    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
    bool writeWav = true;
    std::uint32_t soundSeconds = 1;
    bool closes = true;   // false: the WAV is never finished
    std::string failure;  // what the recorder reports as the sound's end
    std::atomic<int> writeError{0};
    int writeErrorAtStop = 0;  // the errno of a failed finish of the file
    // Asked at RecordToFile for the first sample's steady-clock ns.
    std::function<std::int64_t()> firstSample;
    std::atomic<std::int64_t> firstSampleNs{-1};
    std::atomic<bool> active{false};
    std::vector<TStall> stalls;  // set before the recording

  private:
    void Call(const std::string& c) {
        std::lock_guard lock(mutex);
        calls.push_back(c);
    }
    std::mutex mutex;
    std::vector<std::string> calls;
    std::unique_ptr<std::ofstream> out_;
};

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Installs exactly these drivers (in order) before the engine is made.
    void InstallDrivers(
        const std::vector<std::pair<FOURCC, std::shared_ptr<vfw::ICDriver>>>& drivers);
    TScreenCamera& Make(int screenWidth = 640, int screenHeight = 480, int bitsPerPixel = 32);
    // Catalogue position of a handler, -1 when absent.
    int IndexOf(FOURCC handler) const;
    // The run on this thread, as the worker would do it; the recording ends
    // by the time limit or StopRecording from a grab hook.
    int RunOnce(const std::string& target);
    // Starts on the worker and waits until it has ended.
    void RecordOnWorker(const std::string& target);

    std::vector<std::string> Errors();
    std::string Target(const std::string& name = "VideoRecord_test.avi") const {
        return folder.path() + name;
    }

    TempFolder folder;
    test::FakeClock clock;
    test::ScriptedHost host;
    std::shared_ptr<ClockedDesktop> desktop;
    std::unique_ptr<TScreenCamera> camera;
    FakeRecorder* recorder = nullptr;  // owned by the camera when made with audio
    // Every recorder the camera made, the first input's first.
    std::vector<FakeRecorder*> recorders;
    bool withAudio = false;
    WindowOpener openWindow;  // handed to the engine Make makes

  private:
    std::mutex errorsMutex_;
    std::vector<std::string> errors_;
};

// The engine's texts one to a line, for failure messages.
std::string Text(const std::vector<std::string>& texts);

// ffprobe questions.
std::string Probe(const std::string& file, const std::string& entries,
                  const std::string& select = "v:0");
// Sample indices of the non-empty video packets.
std::vector<long long> WrittenIndices(const std::string& file);
// One (size, keyframe) per video packet, empty slots left out.
std::vector<std::pair<int, bool>> VideoPackets(const std::string& file);

}  // namespace velmora::enginetest
