// The OSD window on GTK: one borderless popup 200 x 130 near the bottom centre
// of the primary monitor that floats above other windows, lets clicks through
// and never takes the keyboard focus. With a compositor it is see-through
// (RGBA visual); without one it is cut to the shape of what it shows.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <string>

#include "osd/custumwindow.hpp"
#include "osd/show_msg_view.hpp"

class OsdWindow : private custumwindow::Frame, private ShowMsgView::Host {
public:
    OsdWindow();
    ~OsdWindow() override;
    OsdWindow(const OsdWindow&) = delete;
    OsdWindow& operator=(const OsdWindow&) = delete;

    // Shows the picture for code and (re)starts the countdown.
    void show(int code);
    void hide();

private:
    // custumwindow::Frame
    OsdRect frame() const override;
    OsdRect visibleFrame() const override;
    void setFrameOrigin(OsdPoint origin) override;
    // ShowMsgView::Host
    unsigned startRepeatingTimer(unsigned intervalMs, ShowMsgView& view) override;
    void stopTimer(unsigned id) override;
    void setNeedsDisplay() override;
    void hideWindow() override;

    void present();
    bool composited() const;
    void applyVisual();
    void updateShape();
    void compositingChanged();
    void draw(cairo_t* cr);
    cairo_surface_t* picture(const std::string& name);

    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self);
    static void OnCompositedChanged(GdkScreen*, gpointer self);
    static gboolean OnTick(gpointer view);

    GtkWidget* window_ = nullptr;
    GtkWidget* area_ = nullptr;
    GdkScreen* screen_ = nullptr;
    gulong compositedHandler_ = 0;
    guint timer_ = 0;  // the countdown's timer while it runs
    OsdPoint origin_;
    custumwindow custumwindow_;
    ShowMsgView view_;
    std::map<std::string, cairo_surface_t*> pictures_;  // nullptr: not in the resources
};
