#include "tests/vfw/VfwTestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tests/support/TestEnv.h"

namespace velmora::vfwtest {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-vfw-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

int Dib::formatBytes() const {
    auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(block.data());
    return static_cast<int>(h->biSize + 4 * h->biClrUsed);
}

namespace {

struct Bgr {
    std::uint8_t b, g, r;
};

Bgr paletteColour(int i) {
    return Bgr{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
               static_cast<std::uint8_t>((i * 3) & 255)};
}

// Palette index (8-bit) or colour of the picture at top-down (x, y).
int pictureIndex(int width, int height, int n, int x, int y) {
    if (x < 8 && y < 8) return 255;
    const int sx = (n * 7) % (width - 24);
    const int sy = (n * 5) % (height - 24);
    if (x >= sx && x < sx + 24 && y >= sy && y < sy + 24) return 200;
    return (x * 190 / width + y * 40 / height) & 255;
}

Bgr pictureColour(int width, int height, int n, int x, int y) {
    if (x < 8 && y < 8) return Bgr{255, 255, 255};
    const int sx = (n * 7) % (width - 24);
    const int sy = (n * 5) % (height - 24);
    if (x >= sx && x < sx + 24 && y >= sy && y < sy + 24) return Bgr{0, 0, 255};
    return Bgr{static_cast<std::uint8_t>(x * 255 / width),
               static_cast<std::uint8_t>(y * 255 / height), 64};
}

}  // namespace

Dib testFrame(int width, int height, int bitCount, int n) {
    const int stride = ((width * bitCount + 31) / 32) * 4;
    const int colours = bitCount == 8 ? 256 : 0;
    Dib dib;
    dib.block.assign(sizeof(BITMAPINFOHEADER) + 4 * colours + std::size_t(stride) * height, 0);
    BITMAPINFOHEADER* h = dib.header();
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = width;
    h->biHeight = height;
    h->biPlanes = 1;
    h->biBitCount = static_cast<WORD>(bitCount);
    h->biCompression = BI_RGB;
    h->biSizeImage = static_cast<DWORD>(stride * height);
    h->biClrUsed = static_cast<DWORD>(colours);
    std::uint8_t* table = dib.block.data() + sizeof(BITMAPINFOHEADER);
    for (int i = 0; i < colours; ++i) {
        const Bgr c = paletteColour(i);
        table[4 * i] = c.b;
        table[4 * i + 1] = c.g;
        table[4 * i + 2] = c.r;
    }
    std::uint8_t* bits = dib.block.data() + dib.formatBytes();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bits + std::size_t(stride) * (height - 1 - y);  // bottom-up
        for (int x = 0; x < width; ++x) {
            const Bgr c = pictureColour(width, height, n, x, y);
            switch (bitCount) {
                case 32:
                    row[4 * x] = c.b, row[4 * x + 1] = c.g, row[4 * x + 2] = c.r;
                    break;
                case 24:
                    row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r;
                    break;
                case 16: {
                    const std::uint16_t v = static_cast<std::uint16_t>(
                        ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
                    std::memcpy(row + 2 * x, &v, 2);
                    break;
                }
                case 8:
                    row[x] = static_cast<std::uint8_t>(pictureIndex(width, height, n, x, y));
                    break;
            }
        }
    }
    return dib;
}

std::vector<std::uint8_t> expectedBgr(int width, int height, int bitCount, int n) {
    std::vector<std::uint8_t> out;
    out.reserve(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Bgr c = bitCount == 8 ? paletteColour(pictureIndex(width, height, n, x, y))
                                        : pictureColour(width, height, n, x, y);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
    }
    return out;
}

HRESULT writeVideo(const std::string& path, const WriteSetup& s, const std::vector<int>& indices) {
    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr;
    PAVISTREAM compressed = nullptr;
    HRESULT hr = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
    Dib probe = testFrame(s.width, s.height, s.bitCount, 0);
    if (hr == AVIERR_OK) {
        AVISTREAMINFO info{};
        info.fccType = streamtypeVIDEO;
        info.fccHandler = s.handler;
        info.dwFlags = 12;
        info.dwScale = 1;
        info.dwRate = s.fps;
        info.dwSuggestedBufferSize = probe.imageBytes();
        info.rcFrame = RECT{0, 0, s.width, s.height};
        std::strncpy(info.szName, s.name, 15);
        hr = AVIFileCreateStream(file, &raw, &info);
    }
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* optionList[1] = {&options};
    if (hr == AVIERR_OK) {
        options.fccType = streamtypeVIDEO;
        options.fccHandler = s.handler;
        options.dwKeyFrameEvery = s.keyFrameEvery;
        options.dwQuality = s.quality;
        options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
        hr = AVIMakeCompressedStream(&compressed, raw, &options, nullptr);
    }
    if (hr == AVIERR_OK) {
        hr = AVIStreamSetFormat(compressed, 0, probe.block.data(), probe.formatBytes());
    }
    for (std::size_t i = 0; hr == AVIERR_OK && i < indices.size(); ++i) {
        Dib frame = testFrame(s.width, s.height, s.bitCount, static_cast<int>(i));
        hr =
            AVIStreamWrite(compressed, indices[i], 1, frame.bits(),
                           static_cast<LONG>(frame.imageBytes()), AVIIF_KEYFRAME, nullptr, nullptr);
    }
    AVISaveOptionsFree(1, optionList);
    if (raw) AVIStreamRelease(raw);
    if (compressed) AVIStreamRelease(compressed);
    if (file) AVIFileRelease(file);
    return hr;
}

std::vector<int> gappyIndices(int count) {
    static const int steps[] = {1, 1, 2, 1, 4};
    std::vector<int> out;
    int at = 0;
    for (int i = 0; i < count; ++i) {
        out.push_back(at);
        at += steps[i % 5];
    }
    return out;
}

HRESULT openStream(const std::string& path, PAVISTREAM* stream, DWORD type) {
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpen(&file, path.c_str(), OF_READ, nullptr);
    if (hr != AVIERR_OK) return hr;
    hr = AVIFileGetStream(file, stream, type, 0);
    AVIFileRelease(file);  // the stream keeps what it needs
    return hr;
}

void writeWav(const std::string& path, double seconds, int rate) {
    const std::uint32_t samples = static_cast<std::uint32_t>(seconds * rate);
    const std::uint32_t data = samples * 2;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    auto u32 = [&](std::uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](std::uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + data);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(1);
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate) * 2);
    u16(2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(data);
    for (std::uint32_t i = 0; i < samples; ++i) {
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(i * 0.05))));
    }
    std::fclose(f);
}

namespace {
std::string quote(const std::string& s) {
    return "'" + s + "'";
}
}  // namespace

std::vector<Packet> probePackets(const std::string& path, const char* type) {
    std::istringstream in(test::capture(std::string("ffprobe -v error -select_streams ") + type +
                                        ":0 -show_entries packet=pts,dts,size,flags -of csv=p=0 " +
                                        quote(path)));
    std::vector<Packet> out;
    std::string line;
    while (std::getline(in, line)) {
        // pts,dts,size,flags; a reader may leave pts out (N/A) where dts says it
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string s; std::getline(fields, s, ',');) f.push_back(s);
        if (f.size() < 4) continue;
        Packet p;
        p.pts = std::atoll((f[0] == "N/A" ? f[1] : f[0]).c_str());
        p.size = std::atoi(f[2].c_str());
        p.key = !f[3].empty() && f[3][0] == 'K';
        out.push_back(p);
    }
    return out;
}

std::string probeStream(const std::string& path, int index, const std::string& entry) {
    std::string out =
        test::capture("ffprobe -v error -select_streams " + std::to_string(index) +
                      " -show_entries stream=" + entry + " -of csv=p=0 " + quote(path));
    while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
    return out;
}

std::string probeStreamTag(const std::string& path, int index, const std::string& tag) {
    std::string out =
        test::capture("ffprobe -v error -select_streams " + std::to_string(index) +
                      " -show_entries stream_tags=" + tag + " -of csv=p=0 " + quote(path));
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string decodeErrors(const std::string& path) {
    return test::capture("ffmpeg -nostdin -v error -i " + quote(path) + " -f null - 2>&1");
}

std::vector<std::uint8_t> decodeFirstFrameBgr(const std::string& path) {
    std::string raw = test::capture("ffmpeg -nostdin -v error -i " + quote(path) +
                                    " -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    return std::vector<std::uint8_t>(raw.begin(), raw.end());
}

std::vector<std::uint8_t> decodeFramesBgr(const std::string& path) {
    std::string raw = test::capture("ffmpeg -nostdin -v error -i " + quote(path) +
                                    " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -");
    return std::vector<std::uint8_t>(raw.begin(), raw.end());
}

std::string fourccText(FOURCC f) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((f >> (8 * i)) & 0xFF);
    return s;
}

}  // namespace velmora::vfwtest
