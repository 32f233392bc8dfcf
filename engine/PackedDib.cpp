#include "engine/PackedDib.h"

#include <cstdlib>
#include <cstring>
#include <limits>

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

void FreePackedDib(PackedDib frame) {
    std::free(frame);
}

}  // namespace velmora::engine
