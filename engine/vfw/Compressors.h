#pragma once
// The Video for Windows compressor manager on libavcodec: a table of
// installed drivers under ICTYPE_VIDEO, opened with ICOpen and asked with
// ICSendMessage, named and valued as on Windows. The built-in table holds, in
// this order: 'MSVC' MS Video 1, 'XVID' Xvid, 'MJPG' Motion JPEG, 'H264' x264,
// 'HFYU' HuffYUV, 'ZMBV' Zip Motion Blocks, 'FFV1' FFV1 and 'DIB ' (full
// frames). Tests and tools install drivers of their own with ICInstall.
//
// Configuration dialogs belong to the program's UI: this library only keeps
// each driver's options and hands them to a hook the program installs
// (ICSetConfigureHook). With no hook, ICQueryConfigure answers "none".

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/vfw/Vfw.h"

struct AVCodecParameters;
struct AVPacket;

namespace velmora::vfw {

constexpr FOURCC ICTYPE_VIDEO = MakeFourCC('v', 'i', 'd', 'c');
constexpr FOURCC ICTYPE_AUDIO = MakeFourCC('a', 'u', 'd', 'c');

constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;
constexpr UINT ICMODE_DRAW = 8;

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_DONTDRAW = 1;
constexpr LRESULT ICERR_NEWPALETTE = 2;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;

constexpr UINT ICM_USER = 0x4000;
constexpr UINT ICM_RESERVED = 0x5000;
constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;     // lParam1 ICINFO*, lParam2 its size
constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;  // 0x500A
constexpr UINT ICM_ABOUT = ICM_RESERVED + 11;      // 0x500B
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;  // 0x4006: lParam1 input, lParam2 output
constexpr DWORD_PTR ICMF_CONFIGURE_QUERY = 1;
constexpr DWORD_PTR ICMF_ABOUT_QUERY = 1;

// ICINFO.dwFlags
constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;

struct ICINFO {
    DWORD dwSize;  // sizeof(ICINFO)
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    char16_t szName[16];  // short name, e.g. u"x264"
    char16_t szDescription[128];
    char16_t szDriver[128];
};
static_assert(sizeof(ICINFO) == 568);

class IcHandle;
using HIC = IcHandle*;

// ---------------------------------------------------------------- manager calls

// Information of compressor fccHandler of type fccType (0: any type). A
// fccHandler below 256 is a number: the fccHandler-th driver of that type in
// the table's order. FALSE when there is no such compressor.
BOOL ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo);

// Opens a compressor (fccHandler compared without regard to case). wMode is
// ICMODE_QUERY for questions or ICMODE_COMPRESS/ICMODE_FASTCOMPRESS. Null when
// no installed driver matches or it cannot compress.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);
LRESULT ICClose(HIC hic);

// Copies up to cb bytes of the driver's ICINFO; answers the bytes copied.
LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb);

// Messages: ICM_GETINFO, ICM_COMPRESS_QUERY (BITMAPINFO* in, BITMAPINFO* out
// or 0), ICM_CONFIGURE (HWND or -1 with ICMF_CONFIGURE_QUERY), ICM_ABOUT (HWND
// or -1 with ICMF_ABOUT_QUERY). Others: ICERR_UNSUPPORTED.
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);

inline LRESULT ICCompressQuery(HIC hic, const void* lpbiInput, const void* lpbiOutput) {
    return ICSendMessage(hic, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(lpbiInput),
                         reinterpret_cast<DWORD_PTR>(lpbiOutput));
}
inline LRESULT ICConfigure(HIC hic, HWND hwnd) {
    return ICSendMessage(hic, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(hwnd), 0);
}
inline BOOL ICQueryConfigure(HIC hic) {
    return ICSendMessage(hic, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY) ==
           ICERR_OK;
}
inline LRESULT ICAbout(HIC hic, HWND hwnd) {
    return ICSendMessage(hic, ICM_ABOUT, reinterpret_cast<DWORD_PTR>(hwnd), 0);
}
inline BOOL ICQueryAbout(HIC hic) {
    return ICSendMessage(hic, ICM_ABOUT, static_cast<DWORD_PTR>(-1), ICMF_ABOUT_QUERY) == ICERR_OK;
}

// ---------------------------------------------------------------- configuration

// One option of a driver, as its configuration dialog shows it.
struct ICCONFIGOPTION {
    std::string key;                   // "preset", "tune", "quantizer"
    std::string label;                 // text for the dialog
    std::vector<std::string> choices;  // not empty: pick one of these
    int minimum = 0;                   // choices empty: a whole number in this range
    int maximum = 0;
    std::string value;  // current value: one of choices, or the number as text
};

// Shows a driver's options modally, owned by parent; true when the user
// accepted (the driver then takes the edited values). Runs on the caller's
// thread.
using ICCONFIGUREHOOK =
    std::function<bool(HWND parent, const ICINFO& info, std::vector<ICCONFIGOPTION>& options)>;

// Installs the program's dialog; an empty function removes it.
void ICSetConfigureHook(ICCONFIGUREHOOK hook);

// ---------------------------------------------------------------- drivers

// What a compressed stream gets from its driver at AVIStreamSetFormat.
struct ICCOMPRESSSETUP {
    const BITMAPINFOHEADER* input = nullptr;  // the frames' format
    const RGBQUAD* colors = nullptr;          // colour table (8-bit frames)
    int colorCount = 0;
    DWORD quality = 7500;     // 0..10000
    DWORD keyFrameEvery = 0;  // 0: the codec's default interval
    DWORD rate = 15;          // frame rate rate/scale
    DWORD scale = 1;
    int threads = 0;  // encoder threads; 0: the driver's choice
    // Frames already in the codec's pixel format go to an encoder that is
    // done with them when compress returns without being copied first.
    // false: always copy (the DIB may change while the encoder reads it).
    bool borrowFrames = true;
};

// One open compressor, owned by a compressed stream.
class ICCompressor {
  public:
    virtual ~ICCompressor() = default;
    // Describes the compressed stream (codec, fourcc, size, extradata).
    virtual bool describe(AVCodecParameters* par) const = 0;
    // Compresses one frame of DIB rows into pkt (data, size, AV_PKT_FLAG_KEY);
    // exactly one packet per frame, at once.
    virtual HRESULT compress(const void* bits, std::size_t size, AVPacket* pkt) = 0;
    // Options for the muxer (e.g. row order of raw frames), "key=value:..."; may be empty.
    virtual std::string muxerOptions() const { return {}; }
    // True while frames go to the encoder as they are, without a copy.
    virtual bool borrowsFrames() const { return false; }
};

// An installable driver. The built-in ones are ICDriver objects too, so a
// test driver can wrap one (ICGetBuiltinDriver) and narrow what it accepts.
class ICDriver {
  public:
    virtual ~ICDriver() = default;
    virtual void getInfo(ICINFO& info) const = 0;
    // ICM_COMPRESS_QUERY: ICERR_OK when frames of this format are accepted;
    // out may be null.
    virtual LRESULT compressQuery(const BITMAPINFO* in, const BITMAPINFO* out) const = 0;
    // Options shown by ICConfigure; empty: no configuration dialog.
    virtual std::vector<ICCONFIGOPTION> options() const { return {}; }
    virtual void setOptions(const std::vector<ICCONFIGOPTION>& /*options*/) {}
    // Compress mode; null (with *error set) when it cannot compress this input.
    virtual std::unique_ptr<ICCompressor> openCompressor(const ICCOMPRESSSETUP& /*setup*/,
                                                         HRESULT* error) {
        if (error) *error = AVIERR_NOCOMPRESSOR;
        return nullptr;
    }
    // Any message the manager does not answer itself.
    virtual LRESULT message(UINT /*msg*/, DWORD_PTR /*dw1*/, DWORD_PTR /*dw2*/) {
        return ICERR_UNSUPPORTED;
    }
};

// Appends a driver to the table (after the ones installed already); FALSE
// when fccType/fccHandler is installed already or driver is null. Handles
// opened before keep their driver.
BOOL ICInstall(DWORD fccType, DWORD fccHandler, std::shared_ptr<ICDriver> driver);
// Removes a driver from the table; FALSE when none matches.
BOOL ICRemove(DWORD fccType, DWORD fccHandler);
// Empties the table (no compressor installed at all).
void ICRemoveAll();
// Puts back the built-in table, in its order, dropping installed drivers.
void ICRestoreBuiltinDrivers();
// The built-in driver with this handler, whether installed now or not.
std::shared_ptr<ICDriver> ICGetBuiltinDriver(DWORD fccHandler);

}  // namespace velmora::vfw
