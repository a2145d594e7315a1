// The OSD's borderless window as its behaviour sees it: it remembers where a
// mouse-down hit and, when dragging is allowed, follows the mouse without
// letting its top edge go above the monitor's work area.
#pragma once

#include "osd/osd_core.hpp"

class custumwindow {
public:
    // What the window system provides; coordinates in screen pixels, y down.
    class Frame {
    public:
        virtual ~Frame() = default;
        virtual OsdRect frame() const = 0;         // the window's rectangle
        virtual OsdRect visibleFrame() const = 0;  // work area of the window's monitor
        virtual void setFrameOrigin(OsdPoint origin) = 0;
    };

    custumwindow(Frame& frame, OsdRect contentRect);

    OsdRect contentRect() const { return contentRect_; }
    // The window may be made key in principle; the GTK side still never lets
    // it take the keyboard focus.
    bool canBecomeKeyWindow() const { return true; }

    // Locations are in window coordinates (relative to the window's top left).
    void mouseDown(OsdPoint locationInWindow);
    void mouseDragged(OsdPoint locationInWindow);

    void SetCanDragWindow(bool canDrag) { setBCanDragWindow(canDrag); }
    void setBCanDragWindow(bool canDrag) { bCanDragWindow_ = canDrag; }
    bool bCanDragWindow() const { return bCanDragWindow_; }
    void setInitialLocation(OsdPoint location) { initialLocation_ = location; }
    OsdPoint initialLocation() const { return initialLocation_; }

private:
    Frame& frame_;
    OsdRect contentRect_;
    OsdPoint initialLocation_;
    bool bCanDragWindow_ = true;
};
