#pragma once
// An in-memory desktop: a 24-bit picture the test paints, a cursor it moves,
// and failures it can inject.

#include <functional>

#include "platform/x11/Desktop.h"

namespace velmora::test {

class FakeDesktop : public platform::Desktop {
  public:
    FakeDesktop(int width, int height, int bitsPerPixel = 32);

    int width() const override { return width_; }
    int height() const override { return height_; }
    int bitsPerPixel() const override { return bitsPerPixel_; }
    bool grab(int left, int top, const platform::DibRows& out) override;
    // Lends a copy of the rectangle, as the X11 desktop lends its segment,
    // when `lends` and the rectangle lies on the screen.
    bool grabLent(int left, int top, int width, int height, platform::DibRows& out) override;
    bool cursorImage(platform::CursorImage& out) override;
    platform::ForeignCursor foreignCursor() override;
    std::string lastError() const override { return error_; }

    // The screen picture, 0x00RRGGBB, rows top-down.
    void fill(std::uint32_t rgb);
    void setPixel(int x, int y, std::uint32_t rgb);
    std::uint32_t pixel(int x, int y) const;
    // Paints every pixel from a function of (x, y, frame counter).
    void paint(const std::function<std::uint32_t(int, int)>& f);

    // The cursor: shown or hidden, its image and position.
    platform::CursorImage cursor;
    bool cursorShowing = true;
    std::uint64_t cursorHandle = 1;

    // Failure injection: grabs numbered from 1 that fail; failAllGrabsFrom
    // makes every grab from that number on fail (0: never).
    int failGrabNumber = 0;
    int failAllGrabsFrom = 0;
    int grabCount = 0;
    bool lends = false;
    int lentCount = 0;

  private:
    int width_, height_, bitsPerPixel_;
    std::vector<std::uint32_t> pixels_;
    std::vector<std::uint32_t> lent_;
    std::string error_;
};

}  // namespace velmora::test
