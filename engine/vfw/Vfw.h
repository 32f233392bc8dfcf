#pragma once
// Video for Windows, as much of it as Velmora uses, on FFmpeg: the AVI file
// library (AVIFile*, AVIStream*, AVISaveV) with its records and AVIERR_*
// results. Names, record layouts and result values are those of the Windows
// library so the recording engine reads like the code it was designed as.
// The compressor manager (ICOpen, ICSendMessage, ...) is in Compressors.h.
//
// Differences from Windows, all deliberate:
// - file names are UTF-8 `const char*` (Linux file names are bytes);
// - handler class ids (CLSID) are accepted and ignored: libavformat is the
//   only handler;
// - AVICOMPRESSOPTIONS keeps its 32-bit, 44-byte layout, so lpFormat and
//   lpParms are 32-bit fields that must be 0 (no compressor here takes an
//   output format or a parameter block through them);
// - nothing throws; every call answers with a result code.
//
// Thread use: one object (file or stream) is used by one thread at a time;
// different files may be used on different threads at once.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/OutputFormats.h"
#include "engine/encode/SoundPlacement.h"

namespace velmora::vfw {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using FOURCC = std::uint32_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
// A parent window for compressor dialogs: whatever the program's dialog hook
// understands (the shell passes a QWidget*).
using HWND = void*;

// Four characters packed into 32 bits, the first in the low byte.
constexpr FOURCC MakeFourCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<BYTE>(a)) |
           (static_cast<FOURCC>(static_cast<BYTE>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c)) << 16) |
           (static_cast<FOURCC>(static_cast<BYTE>(d)) << 24);
}
constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return MakeFourCC(a, b, c, d);
}

constexpr FOURCC streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');
constexpr FOURCC streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');

// ---------------------------------------------------------------- records

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // > 0: rows stored bottom-up, as every frame of the engine is
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;  // BI_RGB, or one of the 4:2:0 formats below
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

// Header followed by biClrUsed colour-table entries (256 when biClrUsed is 0
// at 8 bits).
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

constexpr DWORD BI_RGB = 0;
// 12-bit planar 4:2:0 frames, whatever the sign of biHeight: the Y plane,
// then U, then V, each top-down and unpadded, chroma of (w+1)/2 x (h+1)/2.
// I420 is BT.601 studio range, as Windows capture drivers deliver it; J420,
// the same in full range as JPEG codes it, is this library's own.
constexpr DWORD BI_I420 = MakeFourCC('I', '4', '2', '0');
constexpr DWORD BI_J420 = MakeFourCC('J', '4', '2', '0');

#pragma pack(push, 2)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr WORD WAVE_FORMAT_PCM = 1;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// The stream header (the ANSI record: szName holds 8-bit characters).
struct AVISTREAMINFO {
    DWORD fccType;     // streamtypeVIDEO or streamtypeAUDIO
    DWORD fccHandler;  // the compressor's four-character code
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;  // frame rate is dwRate / dwScale
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;  // samples, gaps included (reading)
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];  // written as the stream's name in the file
};
static_assert(sizeof(AVISTREAMINFO) == 140);

struct AVICOMPRESSOPTIONS {
    DWORD fccType;          // streamtypeVIDEO
    DWORD fccHandler;       // compressor to use
    DWORD dwKeyFrameEvery;  // key frame interval in frames (with AVICOMPRESSF_KEYFRAMES)
    DWORD dwQuality;        // 0..10000, 10000 the best the codec offers
    DWORD dwBytesPerSecond;
    DWORD dwFlags;   // AVICOMPRESSF_*
    DWORD lpFormat;  // must be 0 (see the top of this file)
    DWORD cbFormat;
    DWORD lpParms;  // must be 0
    DWORD cbParms;
    DWORD dwInterleaveEvery;
};
static_assert(sizeof(AVICOMPRESSOPTIONS) == 44);

constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x01;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x02;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x04;
constexpr DWORD AVICOMPRESSF_VALID = 0x08;

// ---------------------------------------------------------------- constants

constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_CREATE = 0x1000;

constexpr DWORD AVIIF_KEYFRAME = 0x10;

constexpr HRESULT MakeAviError(std::uint32_t code) {
    return static_cast<HRESULT>(code);
}

constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeAviError(0x80040154);
constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviError(0x80044065);
constexpr HRESULT AVIERR_BADFORMAT = MakeAviError(0x80044066);
constexpr HRESULT AVIERR_MEMORY = MakeAviError(0x80044067);
constexpr HRESULT AVIERR_INTERNAL = MakeAviError(0x80044068);
constexpr HRESULT AVIERR_BADFLAGS = MakeAviError(0x80044069);
constexpr HRESULT AVIERR_BADPARAM = MakeAviError(0x8004406A);
constexpr HRESULT AVIERR_BADSIZE = MakeAviError(0x8004406B);
constexpr HRESULT AVIERR_BADHANDLE = MakeAviError(0x8004406C);
constexpr HRESULT AVIERR_FILEREAD = MakeAviError(0x8004406D);
constexpr HRESULT AVIERR_FILEWRITE = MakeAviError(0x8004406E);
constexpr HRESULT AVIERR_FILEOPEN = MakeAviError(0x8004406F);
constexpr HRESULT AVIERR_COMPRESSOR = MakeAviError(0x80044070);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviError(0x80044071);
constexpr HRESULT AVIERR_READONLY = MakeAviError(0x80044072);
constexpr HRESULT AVIERR_NODATA = MakeAviError(0x80044073);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviError(0x80044074);
constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviError(0x80044075);
constexpr HRESULT AVIERR_USERABORT = MakeAviError(0x800440C6);
constexpr HRESULT AVIERR_ERROR = MakeAviError(0x800440C7);

// ---------------------------------------------------------------- handles

class AviFile;
class AviStream;
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;

// Progress of AVISaveV, 0..100; a non-zero answer aborts the save.
using AVISAVECALLBACK = std::int32_t (*)(std::int32_t percent);

// ---------------------------------------------------------------- calls

// The system's errno behind the last failed call of this thread that touched
// a file (AVIFileOpen, AVIStreamWrite, the release that finishes a created
// file, AVISaveV), e.g. ENOSPC for a full disk; set only by failures. Not a
// Video for Windows call: there, the results carry no reason.
int AVIGetLastSystemError();

// Counted: every AVIFileInit wants one AVIFileExit. The library works without
// them too; they exist so the engine can keep its balanced calls.
void AVIFileInit();
void AVIFileExit();

// OF_READ opens an AVI or RIFF WAVE file (a WAV is a file with one audio
// stream). OF_WRITE | OF_CREATE creates a new AVI file; it is finished
// (headers and index written) when its last reference is released. The new
// file never replaces an existing one and is never made through a symbolic
// link (AVIERR_FILEOPEN: delete the old file first). What is written reaches
// the system about once a second, so a killed process leaves a file that
// libavformat reads up to then.
// Results: AVIERR_OK; AVIERR_FILEOPEN (missing, no permission);
// AVIERR_BADFORMAT (unreadable content); REGDB_E_CLASSNOTREG (a readable file
// that is neither AVI nor WAV); AVIERR_MEMORY; AVIERR_FILEREAD; AVIERR_BADFLAGS.
HRESULT AVIFileOpen(PAVIFILE* ppfile, const char* szFile, UINT uMode, const void* lpHandler);

// Reference counts; the answers are the counts left.
DWORD AVIFileAddRef(PAVIFILE pfile);
DWORD AVIFileRelease(PAVIFILE pfile);

// How the file last created at szFile (OF_CREATE) in this process was
// finished when its last reference went: AVIERR_FILEWRITE when its index or
// its last bytes could not be written (a full disk) or a write had failed
// before, else AVIERR_OK (also while it is still open and for unknown files).
// Not a Video for Windows call: there, releasing reports nothing.
HRESULT AVIFileFinishResult(const char* szFile);

// A new stream of a file opened for writing. The stream holds a reference on
// its file. szName becomes the stream's name in the file.
HRESULT AVIFileCreateStream(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFO* psi);

// Stream lParam of type fccType (0: any type) of a file; the stream holds a
// reference on its file, which may be released at once.
HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam);

// A stream that compresses what is written to it with the compressor
// lpOptions->fccHandler (see Compressors.h) and writes the result into
// psSource. Holds a reference on psSource. AVIERR_NOCOMPRESSOR when no
// installed driver has that handler.
HRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource,
                                const AVICOMPRESSOPTIONS* lpOptions, const void* pclsidHandler);

// Sets the format of the samples written next (video: BITMAPINFOHEADER and
// colour table of the frames; audio: WAVEFORMATEX). Only position 0 and only
// before the first write. A compressed stream opens its compressor here:
// AVIERR_BADFORMAT when the compressor refuses this format.
HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat);

// Writes lSamples samples at sample index lStart. Video: one frame (the DIB
// rows, biSizeImage bytes) per call; indices must grow; skipped indices stay
// empty and keep the timing. A compressed stream compresses at once and
// stores the frame with the compressor's own key-frame flag (dwFlags is
// advisory there). Audio: lSamples blocks of PCM, appended.
// AVIERR_FILEWRITE on a write failure, AVIERR_BADPARAM on a bad index or size.
HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer,
                       LONG cbBuffer, DWORD dwFlags, LONG* plSampWritten, LONG* plBytesWritten);

// The stream's header as written or read (dwLength counts the samples up to
// the last one written or stored).
HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFO* psi, LONG lSize);

// Renames a stream (its header's szName, cut to 63 bytes): the name the
// file a save copies a sound stream into gives it (AVI's strn, Matroska's
// track title, MP4's handler name).
HRESULT EditStreamSetName(PAVISTREAM pavi, const char* lpszName);

DWORD AVIStreamAddRef(PAVISTREAM pavi);
DWORD AVIStreamRelease(PAVISTREAM pavi);

// Frees option records that AVISaveOptions would have allocated; our options
// are always the caller's own, so this only checks its arguments.
HRESULT AVISaveOptionsFree(int nStreams, AVICOMPRESSOPTIONS** plpOptions);

// Copies the streams (read from files opened with OF_READ) into the new AVI
// file szFile without recompression: video streams first, in the order given,
// interleaved by time, gaps kept. plpOptions may be null or hold null entries
// (no recompression either way). lpfnCallback (may be null) gets 0..100 at
// least every 1% or 100 ms; a non-zero answer stops the copy with
// AVIERR_USERABORT and leaves a finished, readable file with what was
// copied. AVIERR_FILEOPEN when szFile cannot be created, AVIERR_FILEWRITE on
// a write failure, AVIERR_FILEREAD when a source cannot be read. The copy is
// made under szFile + ".part" and gets its name only when it is finished (or
// aborted), never replacing a file; after a failure nothing is left.
HRESULT AVISaveV(const char* szFile, const void* pclsidHandler, AVISAVECALLBACK lpfnCallback,
                 int nStreams, PAVISTREAM* ppavi, AVICOMPRESSOPTIONS** plpOptions);

// The file a save writes: its container and its sound's codec (PCM: the
// sound copied as it is).
struct MediaFileFormat {
    OutputFormat container = OutputFormat::Avi;
    SoundCodec sound = SoundCodec::Pcm;
};

// AVISaveV into any of those: the video copied, the sound encoded from its
// first sample on, time stamps from the frame indices (gaps kept as time),
// MP4 fragmented with its index at the front. The same results, progress,
// abort and ".part" naming as AVISaveV; AVIERR_UNSUPPORTED when the
// container cannot take a stream, AVIERR_NOCOMPRESSOR when the sound's
// encoder is missing.
// placing (may be null): where each sound stream of ppavi lies on the
// picture's timeline (ignored for video); the files are read, never changed.
// progress: as AVISaveV's callback (0 goes on, anything else aborts); may be
// empty.
using SaveProgress = std::function<std::int32_t(std::int32_t percent)>;
HRESULT SaveMediaFile(const char* szFile, const MediaFileFormat& format,
                      const SaveProgress& progress, int nStreams, PAVISTREAM* ppavi,
                      const engine::SoundPlacing* placing = nullptr);

}  // namespace velmora::vfw
