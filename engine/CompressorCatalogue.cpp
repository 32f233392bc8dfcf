// The catalogue of installed video compressors that take frames of the area
// at the desktop's depth.

#include "engine/ScreenCamera.h"

namespace velmora::engine {

using namespace vfw;

namespace {

std::string Narrow(const char16_t* text, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
        const char16_t c = text[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace

const std::vector<std::string>& TScreenCamera::ListCompressors() {
    // The compressors are asked about the frame's size and depth only: no
    // grab, so listing them never needs the screen (nor, on Wayland, the
    // user's permission to share it).
    PackedDib probe = BitmapToPackedDib(Width, Height, ScreenBitsPerPixel);
    CompressorCount = 0;
    compressorNames_.clear();
    for (DWORD i = 0; i < 32 && probe; ++i) {
        CompressorEntry& entry = Compressors[static_cast<std::size_t>(CompressorCount)];
        entry = CompressorEntry{};
        entry.dwSize = sizeof(CompressorEntry);
        if (!ICInfo(ICTYPE_VIDEO, i, &entry)) continue;
        HIC handle = ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY);
        if (!handle) continue;
        if (ICCompressQuery(handle, probe, nullptr) == ICERR_OK) {
            ICGetInfo(handle, &entry, sizeof(CompressorEntry));
            ++CompressorCount;
        }
        ICClose(handle);
    }
    // A refused compressor may have left its information in the next free slot.
    if (CompressorCount < static_cast<std::int32_t>(Compressors.size()))
        Compressors[static_cast<std::size_t>(CompressorCount)] = CompressorEntry{};
    for (std::int32_t i = 0; i < CompressorCount; ++i)
        compressorNames_.push_back(
            Narrow(Compressors[static_cast<std::size_t>(i)].szDescription, 128));
    FreeFrame(probe);
    return compressorNames_;
}

void TScreenCamera::ConfigureCompressor(std::uint8_t index, HWND parent) {
    if (index >= CompressorCount) return;
    const CompressorEntry& entry = Compressors[index];
    if (HIC handle = ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY)) {
        ICConfigure(handle, parent);
        ICClose(handle);
    }
}

CompressorAbilities TScreenCamera::QueryCompressor(std::uint8_t index) {
    CompressorAbilities abilities;
    if (index >= CompressorCount) return abilities;
    const CompressorEntry& entry = Compressors[index];
    if (HIC handle = ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY)) {
        abilities.hasAbout = ICQueryAbout(handle);
        abilities.hasConfigure = ICQueryConfigure(handle);
        ICClose(handle);
    }
    return abilities;
}

namespace {
const FOURCC kH264 = MakeFourCC('H', '2', '6', '4');
}  // namespace

std::string TScreenCamera::H264Preset() {
    if (const auto driver = ICGetBuiltinDriver(kH264))
        for (const ICCONFIGOPTION& option : driver->options())
            if (option.key == "preset") return option.value;
    return {};
}

void TScreenCamera::SetH264Preset(const std::string& preset) {
    const auto driver = ICGetBuiltinDriver(kH264);
    if (!driver) return;
    std::vector<ICCONFIGOPTION> options = driver->options();
    for (ICCONFIGOPTION& option : options)
        if (option.key == "preset") option.value = preset;
    driver->setOptions(options);  // takes only a preset among its choices
}

}  // namespace velmora::engine
