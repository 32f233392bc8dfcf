#include "tests/engine/EngineTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/TestEnv.h"

namespace velmora::enginetest {

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-engine-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = std::string(buffer.data()) + "/";
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool ClockedDesktop::grab(int left, int top, const platform::DibRows& out) {
    clock_.Advance(grabCostMs);
    const bool ok = FakeDesktop::grab(left, top, out);
    const int number = ++grabs;
    if (onGrab) onGrab(number);
    return ok;
}

SizeDriver::SizeDriver(FOURCC handler, const char* shortName, std::function<bool(int, int)> accepts,
                       FOURCC base)
    : handler_(handler),
      shortName_(shortName),
      accepts_(std::move(accepts)),
      base_(vfw::ICGetBuiltinDriver(base)) {}

void SizeDriver::getInfo(vfw::ICINFO& info) const {
    base_->getInfo(info);
    info.fccHandler = handler_;
    std::memset(info.szName, 0, sizeof info.szName);
    std::memset(info.szDescription, 0, sizeof info.szDescription);
    for (std::size_t i = 0; i < shortName_.size() && i < 15; ++i)
        info.szName[i] = static_cast<char16_t>(shortName_[i]);
    const std::string description = "Test codec " + shortName_;
    for (std::size_t i = 0; i < description.size() && i < 127; ++i)
        info.szDescription[i] = static_cast<char16_t>(description[i]);
}

vfw::LRESULT SizeDriver::compressQuery(const vfw::BITMAPINFO* in,
                                       const vfw::BITMAPINFO* out) const {
    ++queries;
    queried.emplace_back(in->bmiHeader.biWidth, in->bmiHeader.biHeight);
    if (!accepts_(in->bmiHeader.biWidth, in->bmiHeader.biHeight)) return vfw::ICERR_BADFORMAT;
    return base_->compressQuery(in, out);
}

namespace {
class FailingCompressor : public vfw::ICCompressor {
  public:
    FailingCompressor(std::unique_ptr<vfw::ICCompressor> inner, int failAt)
        : inner_(std::move(inner)), failAt_(failAt) {}
    bool describe(AVCodecParameters* par) const override { return inner_->describe(par); }
    vfw::HRESULT compress(const void* bits, std::size_t size, AVPacket* pkt) override {
        if (++count_ == failAt_) return vfw::AVIERR_COMPRESSOR;
        return inner_->compress(bits, size, pkt);
    }
    std::string muxerOptions() const override { return inner_->muxerOptions(); }

  private:
    std::unique_ptr<vfw::ICCompressor> inner_;
    int failAt_;
    int count_ = 0;
};
}  // namespace

std::unique_ptr<vfw::ICCompressor> SizeDriver::openCompressor(const vfw::ICCOMPRESSSETUP& setup,
                                                              vfw::HRESULT* error) {
    ++opened;
    if (failOpen) {
        if (error) *error = vfw::AVIERR_BADFORMAT;
        return nullptr;
    }
    auto inner = base_->openCompressor(setup, error);
    if (!inner || failCompressAt == 0) return inner;
    return std::make_unique<FailingCompressor>(std::move(inner), failCompressAt);
}

bool FakeRecorder::RecordToFile(const std::string& fileName) {
    Call("RecordToFile=" + fileName);
    // Made at once and written through what was opened, as the real one.
    if (writeWav) out_ = std::make_unique<std::ofstream>(fileName, std::ios::binary);
    if (firstSample) firstSampleNs = firstSample();
    active = true;
    return true;
}

void FakeRecorder::SetActive(bool value) {
    Call(value ? "Active=1" : "Active=0");
    if (value || !active || !closes) return;
    if (writeWav && out_) {
        const std::uint32_t rate = 8000, bytes = rate * 2 * soundSeconds;
        std::ofstream& out = *out_;
        auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        out.write("RIFF", 4);
        u32(36 + bytes);
        out.write("WAVEfmt ", 8);
        u32(16);
        u16(1);
        u16(1);
        u32(rate);
        u32(rate * 2);
        u16(2);
        u16(16);
        out.write("data", 4);
        u32(bytes);
        for (std::uint32_t i = 0; i < rate * soundSeconds; ++i) u16(static_cast<std::uint16_t>(i));
        out_.reset();
    }
    if (writeErrorAtStop) writeError = writeErrorAtStop;
    active = false;
}

void EngineTest::SetUp() {
    vfw::ICRestoreBuiltinDrivers();
}

void EngineTest::TearDown() {
    camera.reset();
    vfw::ICRestoreBuiltinDrivers();
}

void EngineTest::InstallDrivers(
    const std::vector<std::pair<FOURCC, std::shared_ptr<vfw::ICDriver>>>& drivers) {
    vfw::ICRemoveAll();
    for (const auto& [handler, driver] : drivers)
        ASSERT_TRUE(vfw::ICInstall(vfw::ICTYPE_VIDEO, handler, driver));
}

TScreenCamera& EngineTest::Make(int screenWidth, int screenHeight, int bitsPerPixel) {
    camera.reset();
    desktop = std::make_shared<ClockedDesktop>(clock, screenWidth, screenHeight, bitsPerPixel);
    desktop->paint([](int x, int y) {
        return static_cast<std::uint32_t>(((x * 7) & 0xFF) << 16 | ((y * 5) & 0xFF) << 8 | 0x40);
    });
    if (withAudio) {
        recorders.clear();
        host.makeRecorder = [this] {
            auto made = std::make_unique<FakeRecorder>();
            recorders.push_back(made.get());
            if (recorders.size() == 1) recorder = made.get();
            return made;
        };
    }
    CameraOptions options;
    options.desktop = desktop;
    options.clock = std::shared_ptr<TEngineClock>(&clock, [](TEngineClock*) {});
    options.openWindow = openWindow;
    camera = std::make_unique<TScreenCamera>(host, options);
    camera->OnCameraError = [this](TScreenCamera*, const std::string& text) {
        std::lock_guard lock(errorsMutex_);
        errors_.push_back(text);
    };
    desktop->grabs = 0;  // the catalogue's probe does not count
    camera->MinimizeOnRecord = false;
    camera->Mode = engine::CaptureMode::FixedArea;
    camera->FramesPerSecond = 10;
    camera->FrameInterval = 100;
    camera->Width = 64;
    camera->Height = 48;
    return *camera;
}

int EngineTest::IndexOf(FOURCC handler) const {
    for (int i = 0; i < camera->CompressorCount; ++i)
        if (camera->Compressors[static_cast<std::size_t>(i)].fccHandler == handler) return i;
    return -1;
}

int EngineTest::RunOnce(const std::string& target) {
    camera->Recording = true;
    const int result = camera->RunRecording(target);
    host.ProcessEvents();
    return result;
}

void EngineTest::RecordOnWorker(const std::string& target) {
    camera->StartRecording(target);
    ASSERT_TRUE(host.RunUntil([this] { return !camera->WorkerRunning(); }));
}

std::string Text(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& t : texts) all += t + "\n";
    return all;
}

std::vector<std::string> EngineTest::Errors() {
    std::lock_guard lock(errorsMutex_);
    return errors_;
}

std::string Probe(const std::string& file, const std::string& entries, const std::string& select) {
    std::string out = test::capture("ffprobe -v error -select_streams " + select +
                                    " -show_entries " + entries + " -of csv=p=0 '" + file + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
    return out;
}

std::vector<std::pair<int, bool>> VideoPackets(const std::string& file) {
    std::vector<std::pair<int, bool>> packets;
    std::istringstream in(test::capture(
        "ffprobe -v error -select_streams v:0 -show_entries packet=size,flags -of csv=p=0 '" +
        file + "'"));
    for (std::string line; std::getline(in, line);) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        const int size = std::atoi(line.substr(0, comma).c_str());
        if (size > 0) packets.emplace_back(size, line[comma + 1] == 'K');
    }
    return packets;
}

std::vector<long long> WrittenIndices(const std::string& file) {
    std::vector<long long> indices;
    std::istringstream in(test::capture(
        "ffprobe -v error -select_streams v:0 -show_entries packet=pts,dts,size -of csv=p=0 '" +
        file + "'"));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string s; std::getline(fields, s, ',');) f.push_back(s);
        if (f.size() < 3 || std::atoi(f[2].c_str()) <= 0) continue;
        indices.push_back(std::atoll((f[0] == "N/A" ? f[1] : f[0]).c_str()));
    }
    return indices;
}

}  // namespace velmora::enginetest
