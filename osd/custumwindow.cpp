#include "osd/custumwindow.hpp"

custumwindow::custumwindow(Frame& frame, OsdRect contentRect) : frame_(frame), contentRect_(contentRect) {}

void custumwindow::mouseDown(OsdPoint locationInWindow) { initialLocation_ = locationInWindow; }

void custumwindow::mouseDragged(OsdPoint locationInWindow) {
    if (!bCanDragWindow_) return;
    const OsdRect window = frame_.frame();
    OsdPoint origin{window.x + (locationInWindow.x - initialLocation_.x),
                    window.y + (locationInWindow.y - initialLocation_.y)};
    // Only the top edge is held back, so the window cannot hide under a top
    // panel; every other edge may leave the screen.
    const OsdRect visible = frame_.visibleFrame();
    if (origin.y < visible.y) origin.y = visible.y;
    frame_.setFrameOrigin(origin);
}
