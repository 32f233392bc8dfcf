#pragma once
// A rectangle of the X screen in its own pixels (the root window's
// coordinates), as the engine, the settings and the monitors use them.

namespace velmora::platform {

struct ScreenRect {
    int left = 0, top = 0, width = 0, height = 0;

    bool empty() const { return width <= 0 || height <= 0; }
    int right() const { return left + width; }   // first column past the rectangle
    int bottom() const { return top + height; }  // first row past the rectangle
    bool operator==(const ScreenRect&) const = default;
};

// The area moved (and, where it is larger, cut) so that it lies wholly on
// the screen; an empty screen leaves the area as it is.
ScreenRect FitIntoScreen(ScreenRect area, const ScreenRect& screen);

}  // namespace velmora::platform
