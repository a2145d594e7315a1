// The OSD window on GTK: one borderless window 200 x 130 near the bottom
// centre of the primary monitor that floats above other windows, lets clicks
// through and never takes the keyboard focus: an override-redirect popup on
// X11 (and XWayland), an overlay layer surface on Wayland compositors with
// layer-shell. With a compositor it is see-through (RGBA visual); without
// one it is cut to the shape of what it shows.
#pragma once

#include <gtk/gtk.h>

#include "osd/custumwindow.hpp"
#include "osd/osd_painter.hpp"
#include "osd/osd_presenter.hpp"
#include "osd/show_msg_view.hpp"

class OsdWindow : public OsdPresenter, private custumwindow::Frame, private ShowMsgView::Host {
public:
    // layerShell: a layer surface of a Wayland compositor (gtk-layer-shell),
    // else an X11 window.
    explicit OsdWindow(bool layerShell);
    ~OsdWindow() override;
    OsdWindow(const OsdWindow&) = delete;
    OsdWindow& operator=(const OsdWindow&) = delete;

    void show(int code) override;
    void hide() override;

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

    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self);
    static void OnCompositedChanged(GdkScreen*, gpointer self);
    static gboolean OnTick(gpointer view);

    bool layerShell_;
    GtkWidget* window_ = nullptr;
    GtkWidget* area_ = nullptr;
    GdkScreen* screen_ = nullptr;
    gulong compositedHandler_ = 0;
    guint timer_ = 0;  // the countdown's timer while it runs
    OsdPoint origin_;
    custumwindow custumwindow_;
    ShowMsgView view_;
    OsdPainter painter_;
};
