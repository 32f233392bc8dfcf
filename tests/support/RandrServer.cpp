#include "tests/support/RandrServer.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "tests/support/TestEnv.h"

namespace velmora::test {

RandrServer::RandrServer() : display_(XOpenDisplay(displayRandr().c_str())) {}

RandrServer::~RandrServer() {
    if (!display_) return;
    for (unsigned long w : windows_) XDestroyWindow(display_, w);
    for (unsigned long name : monitors_) XRRDeleteMonitor(display_, root(), name);
    XSync(display_, False);
    XCloseDisplay(display_);
    Resize("1920x1080");
}

unsigned long RandrServer::root() const {
    return DefaultRootWindow(display_);
}

void RandrServer::AddMonitor(const char* name, platform::ScreenRect r, bool primary,
                             bool withOutput) {
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display_, root());
    XRRMonitorInfo* monitor = XRRAllocateMonitor(display_, withOutput ? 1 : 0);
    monitor->name = XInternAtom(display_, name, False);
    monitor->primary = primary;
    monitor->x = r.left;
    monitor->y = r.top;
    monitor->width = r.width;
    monitor->height = r.height;
    monitor->mwidth = r.width / 4;
    monitor->mheight = r.height / 4;
    if (withOutput) monitor->outputs[0] = resources->outputs[0];
    XRRSetMonitor(display_, root(), monitor);
    XSync(display_, False);
    monitors_.push_back(monitor->name);
    XFree(monitor);
    XRRFreeScreenResources(resources);
}

void RandrServer::Paint(platform::ScreenRect r, unsigned long rgb) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = rgb;
    const Window w = XCreateWindow(display_, root(), r.left, r.top, static_cast<unsigned>(r.width),
                                   static_cast<unsigned>(r.height), 0, CopyFromParent, InputOutput,
                                   CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display_, w);
    XSync(display_, False);
    windows_.push_back(w);
}

void RandrServer::Unpaint() {
    for (unsigned long w : windows_) XDestroyWindow(display_, w);
    XSync(display_, False);
    windows_.clear();
}

int RandrServer::Resize(const std::string& size) {
    return run("DISPLAY=" + displayRandr() + " xrandr -s " + size);
}

}  // namespace velmora::test
