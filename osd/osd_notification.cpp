#include "osd/osd_notification.hpp"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr int kTimeoutMs = 2000;

// The image-data hint (iiibiiay): width, height, rowstride, has alpha,
// bits per sample, channels, RGBA bytes without premultiplied alpha.
GVariant* ImageData(cairo_surface_t* image) {
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    const int stride = cairo_image_surface_get_stride(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    std::vector<guint8> rgba(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            guint32 pixel;
            std::memcpy(&pixel, data + y * stride + x * 4, 4);  // native-endian ARGB, premultiplied
            const guint8 a = pixel >> 24;
            auto channel = [a](guint32 c) -> guint8 { return a ? static_cast<guint8>((c * 255 + a / 2) / a) : 0; };
            guint8* out = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            out[0] = channel((pixel >> 16) & 0xff);
            out[1] = channel((pixel >> 8) & 0xff);
            out[2] = channel(pixel & 0xff);
            out[3] = a;
        }
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, rgba.data(), rgba.size(), 1);
    return g_variant_new("(iiibii@ay)", width, height, width * 4, TRUE, 8, 4, bytes);
}

}  // namespace

OsdNotification::OsdNotification(GDBusConnection* bus) : bus_(G_DBUS_CONNECTION(g_object_ref(bus))), view_(*this) {}

OsdNotification::~OsdNotification() {
    if (timer_) g_source_remove(timer_);
    g_object_unref(bus_);
}

bool OsdNotification::Available(GDBusConnection* bus) {
    for (const char* method : {"ListNames", "ListActivatableNames"}) {
        GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", method, nullptr, G_VARIANT_TYPE("(as)"),
                                                      G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, nullptr);
        if (!reply) continue;
        GVariantIter* names = nullptr;
        g_variant_get(reply, "(as)", &names);
        const gchar* name = nullptr;
        bool found = false;
        while (!found && g_variant_iter_next(names, "&s", &name)) found = g_str_equal(name, kName);
        g_variant_iter_free(names);
        g_variant_unref(reply);
        if (found) return true;
    }
    return false;
}

void OsdNotification::show(int code) { view_.setShowImgTag(code); }

void OsdNotification::hide() {
    if (id_ == 0 || inFlight_) return;
    GVariant* reply = g_dbus_connection_call_sync(bus_, kName, kPath, kName, "CloseNotification",
                                                  g_variant_new("(u)", id_), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                  kTimeoutMs, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
}

void OsdNotification::setNeedsDisplay() {
    // One call at a time, so that each bubble replaces the one before; codes
    // that come meanwhile are shown, the last of them, when it returns.
    if (inFlight_) {
        pending_ = true;
        return;
    }
    const OsdPictureEntry* entry = FindOsdPicture(view_.showImgTag());
    if (!entry) return hide();  // a code without a picture shows nothing
    cairo_surface_t* image = painter_.image(view_);
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "image-data", ImageData(image));
    g_variant_builder_add(&hints, "{sv}", "transient", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
    g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string("device"));
    cairo_surface_destroy(image);
    const gchar* noActions[] = {nullptr};
    inFlight_ = true;
    g_dbus_connection_call(bus_, kName, kPath, kName, "Notify",
                           g_variant_new("(susss^asa{sv}i)", "qz5d", id_, "input-keyboard", entry->caption, "",
                                         noActions, &hints, ShowMsgView::kTickMs * ShowMsgView::kTicksShown),
                           G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, &OsdNotification::Shown,
                           this);
}

void OsdNotification::Shown(GObject* source, GAsyncResult* result, gpointer self) {
    auto* n = static_cast<OsdNotification*>(self);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    n->inFlight_ = false;
    if (reply) {
        g_variant_get(reply, "(u)", &n->id_);
        g_variant_unref(reply);
    } else {
        std::fprintf(stderr, "qz5-osd: the notification server did not show the picture: %s\n", error->message);
        g_error_free(error);
    }
    if (n->pending_) {
        n->pending_ = false;
        n->setNeedsDisplay();
    } else if (n->view_.isStop()) {
        n->hide();  // the countdown ended while the call was out
    }
}

unsigned OsdNotification::startRepeatingTimer(unsigned intervalMs, ShowMsgView& view) {
    timer_ = g_timeout_add(intervalMs, [](gpointer v) -> gboolean {
        static_cast<ShowMsgView*>(v)->timerPro();
        return G_SOURCE_CONTINUE;
    }, &view);
    return timer_;
}

void OsdNotification::stopTimer(unsigned id) {
    g_source_remove(id);
    if (id == timer_) timer_ = 0;
}

void OsdNotification::hideWindow() { hide(); }
