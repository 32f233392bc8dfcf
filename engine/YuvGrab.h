#pragma once
// Frames for a codec that takes 4:2:0: the screen's rows are converted
// straight into the frame's planes. Where the desktop lends its own buffer
// they are converted where the server put them, with no copy of the whole
// picture in between; elsewhere they are grabbed into DIB rows first, as for
// any other codec. One per capture loop; not shared between threads.

#include "engine/PackedDib.h"
#include "engine/vfw/PixelConversion.h"
#include "platform/x11/Dib.h"

namespace velmora::engine {

class YuvGrab {
  public:
    // For frames of this 4:2:0 format from a screen of screenBits.
    YuvGrab(const vfw::BITMAPINFOHEADER& format, int screenBits);
    ~YuvGrab();
    YuvGrab(const YuvGrab&) = delete;
    YuvGrab& operator=(const YuvGrab&) = delete;

    // Made for frames of this format and screen depth.
    bool Fits(const vfw::BITMAPINFOHEADER& format, int screenBits) const;
    // False when the conversions cannot be set up for this format.
    bool Ready() const { return ready_; }

    // The desktop's lent rows (top-down B,G,R,x at the frame's size, each
    // row where the rows' stride puts it) into the frame.
    bool FromLent(const platform::DibRows& rows, PackedDib frame) const;
    // DIB rows at the screen's depth to grab into where nothing is lent;
    // made on first use. Null when they cannot be allocated.
    PackedDib Dib();
    // Those rows, grabbed, into the frame.
    bool FromDib(PackedDib dib, PackedDib frame) const;

  private:
    int width_, height_, screenBits_;
    vfw::DWORD compression_;
    bool ready_ = false;
    vfw::DibConverter lent_, dibRows_;
    PackedDib dib_ = nullptr;
};

}  // namespace velmora::engine
