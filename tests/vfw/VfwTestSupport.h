#pragma once
// Test pictures, a temporary folder and ffprobe questions for the vfw tests.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/vfw/Compressors.h"
#include "engine/vfw/Vfw.h"

namespace velmora::vfwtest {

using namespace velmora::vfw;

// A folder under $TMPDIR (or /tmp) removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A packed DIB: header, colour table (8-bit) and bottom-up rows.
struct Dib {
    std::vector<std::uint8_t> block;
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(block.data()); }
    int formatBytes() const;  // header + colour table
    const std::uint8_t* bits() const { return block.data() + formatBytes(); }
    std::uint32_t imageBytes() const {
        return reinterpret_cast<const BITMAPINFOHEADER*>(block.data())->biSizeImage;
    }
};

// A grey-blue gradient with a 24x24 red square that moves with n; the top
// left 8x8 corner is white so a picture turned upside down is caught.
Dib testFrame(int width, int height, int bitCount, int n);
// The same picture as top-down B,G,R bytes (what the DIB shows).
std::vector<std::uint8_t> expectedBgr(int width, int height, int bitCount, int n);

struct WriteSetup {
    FOURCC handler = MakeFourCC('D', 'I', 'B', ' ');
    int width = 320;
    int height = 240;
    int bitCount = 32;
    DWORD fps = 15;
    DWORD keyFrameEvery = 5;
    DWORD quality = 7500;
    const char* name = "test";
};

// Writes frames at the indices as the recording engine does; the first
// failing call's result, or AVIERR_OK.
HRESULT writeVideo(const std::string& path, const WriteSetup& setup,
                   const std::vector<int>& indices);

// 0,1,2,4,5,9,10,11,13,14,18,...: gaps of 1 and 3 slots between runs.
std::vector<int> gappyIndices(int count);

// Opens a file and takes its first stream of the type (0: any), as the merge does.
HRESULT openStream(const std::string& path, PAVISTREAM* stream, DWORD type = 0);

// A mono 16-bit PCM sine WAV of the given length.
void writeWav(const std::string& path, double seconds, int rate = 22050);

struct Packet {
    long long pts = 0;
    int size = 0;
    bool key = false;
};
// The packets of the first stream of this type ("v" or "a") as ffprobe reads them.
std::vector<Packet> probePackets(const std::string& path, const char* type = "v");
// One ffprobe stream entry, e.g. probeStream(F, 0, "codec_name").
std::string probeStream(const std::string& path, int index, const std::string& entry);
// A tag of one stream, e.g. its "title".
std::string probeStreamTag(const std::string& path, int index, const std::string& tag);
// What `ffmpeg -v error -i F -f null -` prints (empty: decodes cleanly).
std::string decodeErrors(const std::string& path);
// The first decoded video frame as top-down B,G,R bytes.
std::vector<std::uint8_t> decodeFirstFrameBgr(const std::string& path);
// Every decoded video frame, one after the other, as top-down B,G,R bytes.
std::vector<std::uint8_t> decodeFramesBgr(const std::string& path);

std::string fourccText(FOURCC f);

}  // namespace velmora::vfwtest
