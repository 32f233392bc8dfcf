#pragma once
// A square of the test display's root window painted black, white or a grey
// level; painting returns when the X server has done it. (Xlib's macros stay out of the
// test sources.)

#include <memory>
#include <vector>

namespace velmora::soundtest {

class RootSquare {
  public:
    RootSquare(int left, int top, int size);
    ~RootSquare();
    bool Good() const;
    void Paint(bool white);
    // 0 black .. 255 white.
    void PaintLevel(int level);
    // The screen's pixels (0xRRGGBB) in a rectangle, whatever window shows
    // them; empty when they cannot be read.
    std::vector<unsigned> Pixels(int left, int top, int width, int height) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::soundtest
