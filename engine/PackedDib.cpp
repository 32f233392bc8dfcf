#include "engine/PackedDib.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/vfw/PixelConversion.h"
#include "platform/x11/Dib.h"

namespace velmora::engine {

PackedDib AllocatePackedDib(int width, int height, int bitCount) {
    if (width <= 0 || height <= 0 || bitCount <= 0) return nullptr;
    const std::int64_t stride = platform::dibStride(width, bitCount);
    const std::int64_t image = stride * height;
    const std::uint32_t colors = PackedDibColors(bitCount);
    const std::int64_t total = 40 + 4 * static_cast<std::int64_t>(colors) + image;
    // biSizeImage is 32 bits wide; larger frames cannot be described.
    if (image > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    void* block = std::calloc(static_cast<std::size_t>(total), 1);
    if (!block) return nullptr;
    auto* header = static_cast<vfw::BITMAPINFOHEADER*>(block);
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<vfw::WORD>(bitCount);
    header->biCompression = vfw::BI_RGB;
    header->biSizeImage = static_cast<vfw::DWORD>(image);
    header->biClrUsed = colors;
    if (bitCount == 8) std::memcpy(PackedDibColorTable(header), platform::dibPalette8(), 256 * 4);
    return header;
}

PackedDib AllocatePackedYuv(int width, int height, vfw::DWORD compression) {
    if (width <= 0 || height <= 0 || !vfw::isYuvFormat(compression)) return nullptr;
    const vfw::YuvLayout layout = vfw::yuvLayout(width, height);
    if (layout.total() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    void* block = std::malloc(static_cast<std::size_t>(40 + layout.total()));
    if (!block) return nullptr;
    auto* header = static_cast<vfw::BITMAPINFOHEADER*>(block);
    std::memset(header, 0, 40);
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 12;
    header->biCompression = compression;
    header->biSizeImage = static_cast<vfw::DWORD>(layout.total());
    // Black: Y at its floor (16, or 0 in full range), chroma at the middle.
    std::uint8_t* bits = PackedDibBits(header);
    std::memset(bits, compression == vfw::BI_J420 ? 0 : 16, static_cast<std::size_t>(layout.ySize));
    std::memset(bits + layout.ySize, 128, static_cast<std::size_t>(2 * layout.chromaSize));
    return header;
}

PackedDib AllocatePackedFrame(const vfw::BITMAPINFOHEADER& format) {
    if (vfw::isYuvFormat(format.biCompression))
        return AllocatePackedYuv(format.biWidth, format.biHeight, format.biCompression);
    return AllocatePackedDib(format.biWidth, format.biHeight, format.biBitCount);
}

void FreePackedDib(PackedDib frame) {
    std::free(frame);
}

}  // namespace velmora::engine
