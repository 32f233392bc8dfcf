#pragma once
// The RandR-capable test X server (tests/env: 1920x1080, up to 7680x2160)
// through Xlib, for what the xrandr tool cannot do (a monitor marked
// primary) and for plain coloured windows. Everything made is removed, and
// the size put back to 1920x1080, when the object goes.

#include <string>
#include <vector>

#include "platform/x11/ScreenRect.h"

typedef struct _XDisplay Display;

namespace velmora::test {

class RandrServer {
  public:
    RandrServer();
    ~RandrServer();
    RandrServer(const RandrServer&) = delete;
    RandrServer& operator=(const RandrServer&) = delete;
    bool ok() const { return display_ != nullptr; }

    // A monitor; withOutput: it takes over the screen's one output (and so
    // replaces the server's own monitor of it).
    void AddMonitor(const char* name, platform::ScreenRect r, bool primary, bool withOutput);
    // A window of one colour (0xRRGGBB) on the given pixels, past the
    // window manager.
    void Paint(platform::ScreenRect r, unsigned long rgb);
    // Removes the windows Paint made: they lie above every managed window.
    void Unpaint();
    // xrandr -s SIZE; its exit status.
    int Resize(const std::string& size);

  private:
    unsigned long root() const;

    Display* display_;
    std::vector<unsigned long> windows_;
    std::vector<unsigned long> monitors_;
};

}  // namespace velmora::test
