#pragma once
// The visible shape of a window given in its own X pixels, for windows of
// another library's connection (Qt's): the shape must be exact to the pixel,
// which the toolkit's scaled masks are not at fractional scale factors.

#include <vector>

#include "platform/x11/ScreenRect.h"

typedef struct _XDisplay Display;

namespace velmora::platform {

// Replaces the window's bounding shape by the union of the rectangles
// (window coordinates). False when the server has no SHAPE extension.
bool SetWindowShape(Display* display, unsigned long window, const std::vector<ScreenRect>& rects);

}  // namespace velmora::platform
