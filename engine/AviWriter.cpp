// The temporary video file: compressor negotiation with the probe frame, the
// AVI file and its compressed stream, frame writes at their time indices and
// the release of it all, through our Video for Windows library.

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/Functions.h"
#include "common/WritableFolder.h"
#include "engine/ScreenCamera.h"
#include "engine/TempFiles.h"
#include "engine/vfw/PixelConversion.h"

namespace velmora::engine {

using namespace vfw;

namespace {

constexpr FOURCC kDefaultHandler = MakeFourCC('M', 'S', 'V', 'C');

const char* const kNoCompressorQuestion = "You no selected compressor, use default compressor?";
const char* const kCannotUseQuestion =
    "Error: Not recording AVI file using current compressor.\r\nUse default compressor? ";
const char* const kNoSizeQuestion =
    "Error: This compressor cann`t work if the dimensions is adjusted slightly\r\nUse default "
    "compressor? ";

// Rounds up to the alignment, or down when rounding up passes the screen.
std::int32_t AlignDimension(std::int32_t value, std::int32_t alignment, std::int32_t bound) {
    const std::int32_t r = value % alignment;
    if (r <= 0) return value;
    return value + alignment - r > bound ? value - r : value + alignment - r;
}

}  // namespace

std::string TScreenCamera::EntryShortName(int index) const {
    std::string name;
    if (index < 0 || index >= static_cast<int>(Compressors.size())) return name;
    for (char16_t c : Compressors[static_cast<std::size_t>(index)].szName) {
        if (c == 0) break;
        name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return name;
}

TScreenCamera::Negotiation TScreenCamera::NegotiateCompressor(PackedDib& probe, int& result) {
    // 'MSVC' takes only some sizes: the area is fitted to it as to any other.
    auto fallBack = [this, &probe, &result] {
        CompressorHandler = kDefaultHandler;
        CompressorName = "MS Video Codec";
        return FitToDefaultCompressor(probe, result);
    };
    auto refuse = [this, &probe, &result] {
        CameraError("User aborted!");
        FreeFrame(probe);
        result = EndRun(0);
        return Negotiation::Ended;
    };

    if (CompressorIndex == -1) {
        if (!Ask(kNoCompressorQuestion)) return refuse();
        return fallBack();
    }
    const bool inCatalogue = CompressorIndex >= 0 && CompressorIndex < CompressorCount;
    const CompressorEntry* entry =
        inCatalogue ? &Compressors[static_cast<std::size_t>(CompressorIndex)] : nullptr;
    HIC handle = entry ? ICOpen(entry->fccType, entry->fccHandler, ICMODE_QUERY) : nullptr;
    if (!handle) {
        if (!Ask(kCannotUseQuestion)) return refuse();
        return fallBack();
    }

    const std::int32_t alignment = AlignToCompressor(handle, probe);
    if (alignment == 0) {
        ICClose(handle);
        CameraError("Error capturing a frame from screen.");
        if (RestoreAfterRecord) host_.RestoreApplication();
        result = 0;
        return Negotiation::Ended;
    }

    if (alignment <= 8) {
        CompressorHandler = entry->fccHandler;
        CompressorName = EntryShortName(CompressorIndex);
        ICClose(handle);
        return Negotiation::Continue;
    }

    ICClose(handle);
    if (!Ask(kNoSizeQuestion)) return refuse();
    // The last try left a probe of the adjusted size; the default compressor
    // is fitted from the area's own size, as the frames are grabbed at it.
    FreeFrame(probe);
    probe = GrabFrame(Left, Top, Width, Height);
    if (!probe) {
        CameraError("Error capturing a frame from screen.");
        if (RestoreAfterRecord) host_.RestoreApplication();
        result = 0;
        return Negotiation::Ended;
    }
    return fallBack();
}

std::int32_t TScreenCamera::AlignToCompressor(HIC handle, PackedDib& probe) {
    std::int32_t alignment = 1;
    std::int32_t width = Width, height = Height;
    while (ICCompressQuery(handle, probe, nullptr) != ICERR_OK) {
        alignment *= 2;
        if (alignment > 8) return alignment;
        width = AlignDimension(Width, alignment, ScreenWidth);
        height = AlignDimension(Height, alignment, ScreenHeight);
        FreeFrame(probe);
        probe = GrabFrame(Left, Top, width, height);
        if (!probe) return 0;
    }
    if (alignment > 1) {
        // Said once: the file's size is not the one the user picked.
        if (width != Width || height != Height)
            CameraError("The area " + std::to_string(Width) + "x" + std::to_string(Height) +
                        " is recorded as " + std::to_string(width) + "x" + std::to_string(height) +
                        ": the compressor takes sizes in steps of " + std::to_string(alignment) +
                        ".");
        Width = width;
        Height = height;
        ActualWidth = static_cast<std::uint32_t>(width);
        ActualHeight = static_cast<std::uint32_t>(height);
    }
    return alignment;
}

TScreenCamera::Negotiation TScreenCamera::FitToDefaultCompressor(PackedDib& probe, int& result) {
    HIC handle = ICOpen(ICTYPE_VIDEO, kDefaultHandler, ICMODE_QUERY);
    // Without the driver the stream cannot be made; that failure is reported there.
    if (!handle) return Negotiation::Continue;
    const std::int32_t alignment = AlignToCompressor(handle, probe);
    ICClose(handle);
    if (alignment == 0) {
        CameraError("Error capturing a frame from screen.");
        if (RestoreAfterRecord) host_.RestoreApplication();
        result = 0;
        return Negotiation::Ended;
    }
    if (alignment > 8) {
        // No size fits: record at the area's size and let the stream report it.
        FreeFrame(probe);
        probe = GrabFrame(Left, Top, Width, Height);
        if (!probe) {
            CameraError("Error capturing a frame from screen.");
            if (RestoreAfterRecord) host_.RestoreApplication();
            result = 0;
            return Negotiation::Ended;
        }
    }
    return Negotiation::Continue;
}

bool TScreenCamera::CreateOutput(PackedDib probe) {
    auto fail = [this](const char* text) {
        CameraError(text);
        aviErrorPending_ = true;
        return false;
    };
    AVIFileInit();
    ++libraryInits_;
    // /dev or /proc as WorkDir: root could write there, nobody should.
    if (const std::string reason = SystemFolderReason(TempVideoFile); !reason.empty()) {
        folderError_ = true;
        const std::string folder = FolderOf(TempVideoFile);
        CameraError("Error on create AVI file. " + (folder.empty() ? std::string(".") : folder) +
                    ": " + reason);
        aviErrorPending_ = true;
        return false;
    }
    SetAsideInterruptedRecording();
    if (const std::string kept = ClearTempName(TempVideoFile); !kept.empty()) {
        folderError_ = true;
        CameraError("Can not delete video temp file: " + kept + ".");
        aviErrorPending_ = true;
        return false;
    }
    if (AVIFileOpen(&aviFile_, TempVideoFile.c_str(), OF_WRITE | OF_CREATE, nullptr) != AVIERR_OK) {
        aviFile_ = nullptr;
        const int error = AVIGetLastSystemError();
        std::string text = "Error on create AVI file.";
        if (error) text.append(1, ' ').append(FileErrorReason(FolderOf(TempVideoFile), error));
        CameraError(text);
        aviErrorPending_ = true;
        // A folder that cannot take the file is no compressor's fault.
        if (error) folderError_ = true;
        return false;
    }
    ownVideo_ = IdentityOf(TempVideoFile);
    heldVideo_.Hold(TempVideoFile, ownVideo_);
    const std::string folder = FolderOf(TempVideoFile);
    recordingFolder_ = IdentityOf(folder.empty() ? "." : folder);

    AVISTREAMINFO info;
    std::memset(&info, 0, sizeof info);
    info.fccType = streamtypeVIDEO;
    info.fccHandler = CompressorHandler;
    info.dwFlags = 12;
    info.dwScale = 1;
    info.dwRate = FramesPerSecond;
    info.dwSuggestedBufferSize = probe->biSizeImage;
    info.rcFrame = RECT{0, 0, probe->biWidth, probe->biHeight};
    // Entries past the catalogue's count are no compressors: no name from them.
    if (CompressorIndex >= 0 && CompressorIndex < CompressorCount &&
        CompressorIndex < static_cast<std::int32_t>(Compressors.size())) {
        const auto& name = Compressors[static_cast<std::size_t>(CompressorIndex)].szName;
        for (std::size_t i = 0; i < 16; ++i) info.szName[i] = static_cast<char>(name[i] & 0xFF);
    }
    AVIFileInit();
    ++libraryInits_;

    if (AVIFileCreateStream(aviFile_, &rawStream_, &info) != AVIERR_OK) {
        rawStream_ = nullptr;
        return fail("Error on create AVI stream.");
    }

    std::memset(&options_, 0, sizeof options_);
    options_.fccType = streamtypeVIDEO;
    options_.fccHandler = CompressorHandler;
    options_.dwKeyFrameEvery = static_cast<DWORD>(KeyFrameEvery);
    options_.dwQuality = static_cast<DWORD>(Quality);
    options_.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    optionsCreated_ = true;
    if (AVIMakeCompressedStream(&compressedStream_, rawStream_, &options_, nullptr) != AVIERR_OK) {
        compressedStream_ = nullptr;
        return fail("Error on compress AVI stream.");
    }
    frameFormat_ = FrameFormatFor(probe);
    const bool yuv = isYuvFormat(frameFormat_.biCompression);
    if (AVIStreamSetFormat(compressedStream_, 0, yuv ? &frameFormat_ : probe,
                           yuv ? sizeof frameFormat_ : PackedDibFormatSize(probe)) != AVIERR_OK)
        return fail("Error on set AVI stream format.");
    return true;
}

BITMAPINFOHEADER TScreenCamera::FrameFormatFor(PackedDib probe) const {
    // A compressor that codes 4:2:0 gets it from the grab: converted
    // straight from the screen's rows, without a copy of the whole picture
    // in between, in queued frames less than half the size.
    HIC handle = ICOpen(ICTYPE_VIDEO, CompressorHandler, ICMODE_QUERY);
    if (handle && (probe->biBitCount == 32 || probe->biBitCount == 24)) {
        for (const DWORD compression : {BI_I420, BI_J420}) {
            BITMAPINFOHEADER yuv = *probe;
            yuv.biBitCount = 12;
            yuv.biCompression = compression;
            yuv.biSizeImage =
                static_cast<DWORD>(yuvLayout(probe->biWidth, probe->biHeight).total());
            yuv.biClrUsed = yuv.biClrImportant = 0;
            if (ICCompressQuery(handle, &yuv, nullptr) == ICERR_OK) {
                ICClose(handle);
                return yuv;
            }
        }
    }
    if (handle) ICClose(handle);
    return *probe;
}

HRESULT TScreenCamera::WriteFrame(PackedDib frame, std::int32_t index) {
    // The library stores the codec's own key-frame flag; AVIIF_KEYFRAME is advisory.
    return AVIStreamWrite(compressedStream_, index, 1, PackedDibBits(frame),
                          static_cast<LONG>(frame->biSizeImage), AVIIF_KEYFRAME, nullptr, nullptr);
}

bool TScreenCamera::ReleaseOutput() {
    if (optionsCreated_) {
        AVICOMPRESSOPTIONS* list[1] = {&options_};
        AVISaveOptionsFree(1, list);
        optionsCreated_ = false;
    }
    if (rawStream_) AVIStreamRelease(rawStream_);
    if (compressedStream_) AVIStreamRelease(compressedStream_);
    const bool hadFile = aviFile_ != nullptr;
    if (aviFile_) AVIFileRelease(aviFile_);
    rawStream_ = compressedStream_ = nullptr;
    aviFile_ = nullptr;
    // The last release finished the file; a truncated file is no recording.
    return !hadFile || AVIFileFinishResult(TempVideoFile.c_str()) == AVIERR_OK;
}

void TScreenCamera::SetAsideInterruptedRecording() {
    // A planted link is removed as a link; its target is never touched.
    for (const std::string* path : {&TempVideoFile, &TempAudioFile, &TempAudio2File}) {
        struct stat st;
        if (::lstat(path->c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(path->c_str());
    }
    // Files this run did not make are an interrupted recording: they go
    // aside under the name of its start, where the next start offers them.
    // A locked file is another recording's, still being written; what is no
    // regular file of this user is no recording and stays where it is.
    auto foreign = [](const std::string& path, const FileIdentity& own) {
        return !IsSameFile(path, own) && InspectLeftFile(path) == LeftFile::Usable;
    };
    const bool video = foreign(TempVideoFile, ownVideo_);
    bool audio[2];
    for (std::size_t i = 0; i < sound_.size(); ++i)
        audio[i] = foreign(*sound_[i].tempFile, sound_[i].own);
    if (!video && !audio[0] && !audio[1]) return;
    const std::time_t started = RecordingStartTime(video      ? TempVideoFile
                                                   : audio[0] ? TempAudioFile
                                                              : TempAudio2File);
    const std::string name = RecordingNameAt(FolderOf(TempVideoFile), started);
    std::string moved;
    if (video) moved = MoveWithoutReplacing(TempVideoFile, BesideTarget(name, "_video.avi"));
    for (std::size_t i = 0; i < sound_.size(); ++i) {
        if (!audio[i]) continue;
        const std::string to =
            MoveWithoutReplacing(*sound_[i].tempFile, BesideTarget(name, sound_[i].keptSuffix));
        if (!to.empty()) moved += (moved.empty() ? "" : ", ") + to;
    }
    if (!moved.empty()) CameraError("An interrupted recording was moved aside: " + moved);
}

void TScreenCamera::LeaveLibrary() {
    for (; libraryInits_ > 0; --libraryInits_) AVIFileExit();
}

}  // namespace velmora::engine
