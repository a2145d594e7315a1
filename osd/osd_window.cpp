#include "osd/osd_window.hpp"

#include <gtk-layer-shell.h>

#include <string>

namespace {

GdkMonitor* PrimaryMonitor(GdkDisplay* display) {
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    return monitor ? monitor : gdk_display_get_monitor(display, 0);
}

}  // namespace

OsdWindow::OsdWindow(bool layerShell)
    : layerShell_(layerShell), custumwindow_(*this, OsdRect{0, 0, kOsdWindowWidth, kOsdWindowHeight}), view_(*this) {
    // On X11 a popup is an override-redirect window: no window manager
    // places, decorates or focuses it (under XWayland neither does the
    // Wayland compositor). A layer surface must be made from a toplevel.
    window_ = gtk_window_new(layerShell ? GTK_WINDOW_TOPLEVEL : GTK_WINDOW_POPUP);
    g_object_ref_sink(window_);
    GtkWindow* w = GTK_WINDOW(window_);
    gtk_window_set_title(w, "qz5-osd");
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_NOTIFICATION);
    gtk_window_set_decorated(w, FALSE);
    gtk_window_set_resizable(w, FALSE);
    gtk_window_set_keep_above(w, TRUE);
    gtk_window_set_skip_taskbar_hint(w, TRUE);
    gtk_window_set_skip_pager_hint(w, TRUE);
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_widget_set_app_paintable(window_, TRUE);
    custumwindow_.SetCanDragWindow(false);

    area_ = gtk_drawing_area_new();
    gtk_widget_set_size_request(area_, kOsdWindowWidth, kOsdWindowHeight);
    gtk_widget_set_app_paintable(area_, TRUE);
    gtk_container_add(GTK_CONTAINER(window_), area_);
    gtk_widget_show(area_);
    g_signal_connect(area_, "draw", G_CALLBACK(OnDraw), this);

    // Closing hides; the one window lives as long as the program.
    g_signal_connect(window_, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON1_MOTION_MASK);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(window_, "motion-notify-event", G_CALLBACK(OnMotion), this);

    // Clicks go through to whatever lies beneath.
    cairo_region_t* nothing = cairo_region_create();
    gtk_widget_input_shape_combine_region(window_, nothing);
    cairo_region_destroy(nothing);

    if (layerShell) {
        // Above everything, fullscreen windows included; bottom centre; no
        // keyboard focus ever; takes no room from other windows.
        gtk_layer_init_for_window(w);
        gtk_layer_set_namespace(w, "qz5-osd");
        gtk_layer_set_layer(w, GTK_LAYER_SHELL_LAYER_OVERLAY);
        gtk_layer_set_anchor(w, GTK_LAYER_SHELL_EDGE_BOTTOM, TRUE);
        gtk_layer_set_margin(w, GTK_LAYER_SHELL_EDGE_BOTTOM, kOsdBottomMargin);
        gtk_layer_set_keyboard_mode(w, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
        gtk_layer_set_exclusive_zone(w, 0);
    }

    screen_ = gtk_widget_get_screen(window_);
    compositedHandler_ = g_signal_connect(screen_, "composited-changed", G_CALLBACK(OnCompositedChanged), this);
    applyVisual();

    if (layerShell) return;  // the compositor places it by its anchor and margin
    // Placed once; later screen changes do not move it.
    GdkRectangle geometry{0, 0, 0, 0};
    if (GdkMonitor* monitor = PrimaryMonitor(gtk_widget_get_display(window_)))
        gdk_monitor_get_geometry(monitor, &geometry);
    origin_ = OsdWindowOrigin(geometry.width, geometry.height);
    gtk_window_move(w, static_cast<int>(origin_.x), static_cast<int>(origin_.y));
}

OsdWindow::~OsdWindow() {
    g_signal_handler_disconnect(screen_, compositedHandler_);
    if (timer_) g_source_remove(timer_);  // no tick may reach a dead view
    gtk_widget_destroy(window_);
    g_object_unref(window_);
}

void OsdWindow::show(int code) {
    view_.setShowImgTag(code);
    present();
}

void OsdWindow::hide() { gtk_widget_hide(window_); }

void OsdWindow::present() {
    // Not gtk_window_present(): without a window manager it would move the
    // keyboard focus to us.
    if (gtk_widget_get_visible(window_)) {
        gdk_window_raise(gtk_widget_get_window(window_));
    } else {
        gtk_widget_show(window_);
    }
}

bool OsdWindow::composited() const { return gdk_screen_is_composited(screen_); }

void OsdWindow::applyVisual() {
    GdkVisual* rgba = gdk_screen_get_rgba_visual(screen_);
    const bool seeThrough = composited() && rgba;
    gtk_widget_set_visual(window_, seeThrough ? rgba : gdk_screen_get_system_visual(screen_));
    updateShape();
}

void OsdWindow::updateShape() {
    if (composited() && gdk_screen_get_rgba_visual(screen_)) {
        gtk_widget_shape_combine_region(window_, nullptr);
        return;
    }
    // No alpha on screen: keep only the pixels the view actually draws.
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kOsdWindowWidth, kOsdWindowHeight);
    cairo_t* cr = cairo_create(image);
    draw(cr);
    cairo_destroy(cr);
    cairo_region_t* shape = gdk_cairo_region_create_from_surface(image);
    gtk_widget_shape_combine_region(window_, shape);
    cairo_region_destroy(shape);
    cairo_surface_destroy(image);
}

void OsdWindow::compositingChanged() {
    // A new visual needs a new X window.
    const bool visible = gtk_widget_get_visible(window_);
    gtk_widget_hide(window_);
    gtk_widget_unrealize(window_);
    applyVisual();
    if (!layerShell_)
        gtk_window_move(GTK_WINDOW(window_), static_cast<int>(origin_.x), static_cast<int>(origin_.y));
    if (visible) gtk_widget_show(window_);
}

void OsdWindow::draw(cairo_t* cr) { painter_.paint(cr, view_); }

OsdRect OsdWindow::frame() const {
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    return {double(x), double(y), double(width), double(height)};
}

OsdRect OsdWindow::visibleFrame() const {
    GdkDisplay* display = gtk_widget_get_display(window_);
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    GdkMonitor* monitor = gdkWindow ? gdk_display_get_monitor_at_window(display, gdkWindow) : PrimaryMonitor(display);
    GdkRectangle area{0, 0, 0, 0};
    if (monitor) gdk_monitor_get_workarea(monitor, &area);
    return {double(area.x), double(area.y), double(area.width), double(area.height)};
}

void OsdWindow::setFrameOrigin(OsdPoint origin) {
    origin_ = origin;
    if (layerShell_) return;
    gtk_window_move(GTK_WINDOW(window_), static_cast<int>(origin.x), static_cast<int>(origin.y));
}

unsigned OsdWindow::startRepeatingTimer(unsigned intervalMs, ShowMsgView& view) {
    timer_ = g_timeout_add(intervalMs, OnTick, &view);
    return timer_;
}

void OsdWindow::stopTimer(unsigned id) {
    g_source_remove(id);
    if (id == timer_) timer_ = 0;
}

void OsdWindow::setNeedsDisplay() {
    updateShape();
    gtk_widget_queue_draw(area_);
}

void OsdWindow::hideWindow() { hide(); }

gboolean OsdWindow::OnDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    static_cast<OsdWindow*>(self)->draw(cr);
    return TRUE;
}

gboolean OsdWindow::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    static_cast<OsdWindow*>(self)->custumwindow_.mouseDown({event->x, event->y});
    return FALSE;
}

gboolean OsdWindow::OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self) {
    static_cast<OsdWindow*>(self)->custumwindow_.mouseDragged({event->x, event->y});
    return FALSE;
}

void OsdWindow::OnCompositedChanged(GdkScreen*, gpointer self) { static_cast<OsdWindow*>(self)->compositingChanged(); }

// The timer is removed by the view itself (stopTimer) when the count runs out.
gboolean OsdWindow::OnTick(gpointer view) {
    static_cast<ShowMsgView*>(view)->timerPro();
    return G_SOURCE_CONTINUE;
}
