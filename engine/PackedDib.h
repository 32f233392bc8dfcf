#pragma once
// The engine's frame: one zero-filled block holding a BITMAPINFOHEADER, the
// colour table (depths of 8 bits or less) and the bottom-up pixel rows, at
// the desktop's depth; or, for a codec that takes 4:2:0, the header and the
// planes of a BI_I420 / BI_J420 frame. The compressor queries and the AVI
// stream take it as it is.

#include <cstdint>

#include "engine/vfw/Vfw.h"

namespace velmora::engine {

// Points at the start of the block; null is "no frame".
using PackedDib = vfw::BITMAPINFOHEADER*;

// Colour-table entries of a frame of this depth.
constexpr std::uint32_t PackedDibColors(int bitCount) {
    return bitCount <= 8 ? (1u << bitCount) : 0u;
}

// Allocates a zero-filled frame of width x height at bitCount with its
// header written (and, at 8 bits, the fixed palette of the screen layer).
// Null when the size does not fit or the allocation fails.
PackedDib AllocatePackedDib(int width, int height, int bitCount);
// A black 4:2:0 frame (compression BI_I420 or BI_J420); null as above.
PackedDib AllocatePackedYuv(int width, int height, vfw::DWORD compression);
// A frame of the format the header describes (a DIB or a 4:2:0 frame).
PackedDib AllocatePackedFrame(const vfw::BITMAPINFOHEADER& format);
void FreePackedDib(PackedDib frame);

// Header plus colour table: the format the stream and the compressor get.
inline std::int32_t PackedDibFormatSize(const vfw::BITMAPINFOHEADER* frame) {
    return static_cast<std::int32_t>(frame->biSize + 4 * frame->biClrUsed);
}
inline std::uint8_t* PackedDibBits(PackedDib frame) {
    return reinterpret_cast<std::uint8_t*>(frame) + PackedDibFormatSize(frame);
}
inline std::uint32_t* PackedDibColorTable(PackedDib frame) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(frame) + frame->biSize);
}

}  // namespace velmora::engine
