// Draws the view with cairo: onto the window, or into an image for a
// notification. Pictures come from the compiled resources, read once.
#pragma once

#include <cairo.h>

#include <map>
#include <string>

#include "osd/show_msg_view.hpp"

class OsdPainter {
public:
    OsdPainter() = default;
    ~OsdPainter();
    OsdPainter(const OsdPainter&) = delete;
    OsdPainter& operator=(const OsdPainter&) = delete;

    void paint(cairo_t* cr, const ShowMsgView& view);
    // The view as a new kOsdWindowWidth x kOsdWindowHeight ARGB32 image.
    cairo_surface_t* image(const ShowMsgView& view);
    cairo_surface_t* picture(const std::string& name);

private:
    std::map<std::string, cairo_surface_t*> pictures_;  // nullptr: not in the resources
};
