#include "osd/osd_painter.hpp"

#include <gio/gio.h>

#include <cstring>

namespace {

class CairoCanvas : public ShowMsgView::Canvas {
public:
    CairoCanvas(cairo_t* cr, OsdPainter& painter) : cr_(cr), painter_(painter) {}

    void clear() override {
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr_, 0, 0, 0, 0);
        cairo_paint(cr_);
        cairo_restore(cr_);
    }

    void drawStringCentered(const std::string& text, const OsdTextAttributes& a) override {
        cairo_save(cr_);
        cairo_select_font_face(cr_, a.font.c_str(), CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, a.size);
        cairo_text_extents_t ext;
        cairo_text_extents(cr_, text.c_str(), &ext);
        cairo_move_to(cr_, (kOsdWindowWidth - ext.width) / 2 - ext.x_bearing,
                      (kOsdWindowHeight - ext.height) / 2 - ext.y_bearing);
        cairo_set_source_rgba(cr_, a.red, a.green, a.blue, a.alpha);
        cairo_show_text(cr_, text.c_str());
        cairo_restore(cr_);
    }

    void drawPictureCentered(const std::string& name) override {
        cairo_surface_t* pic = painter_.picture(name);
        if (!pic) return;
        const int w = cairo_image_surface_get_width(pic);
        const int h = cairo_image_surface_get_height(pic);
        const int x = (kOsdWindowWidth - w) / 2;
        const int y = (kOsdWindowHeight - h) / 2;
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr_, pic, x, y);
        cairo_rectangle(cr_, x, y, w, h);
        cairo_fill(cr_);
        cairo_restore(cr_);
    }

private:
    cairo_t* cr_;
    OsdPainter& painter_;
};

struct PngReader {
    const guint8* data;
    gsize size;
    gsize offset = 0;
};

cairo_status_t ReadPng(void* closure, unsigned char* out, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->size - r->offset < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->offset, length);
    r->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

OsdPainter::~OsdPainter() {
    for (auto& [name, surface] : pictures_)
        if (surface) cairo_surface_destroy(surface);
}

void OsdPainter::paint(cairo_t* cr, const ShowMsgView& view) {
    CairoCanvas canvas(cr, *this);
    view.drawRect(canvas);
}

cairo_surface_t* OsdPainter::image(const ShowMsgView& view) {
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kOsdWindowWidth, kOsdWindowHeight);
    cairo_t* cr = cairo_create(image);
    paint(cr, view);
    cairo_destroy(cr);
    cairo_surface_flush(image);
    return image;
}

cairo_surface_t* OsdPainter::picture(const std::string& name) {
    const auto known = pictures_.find(name);
    if (known != pictures_.end()) return known->second;
    cairo_surface_t* surface = nullptr;
    const std::string path = std::string(kOsdResourcePrefix) + name;
    if (GBytes* bytes = g_resources_lookup_data(path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr)) {
        gsize size = 0;
        PngReader reader{static_cast<const guint8*>(g_bytes_get_data(bytes, &size)), size};
        surface = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
        g_bytes_unref(bytes);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            g_printerr("qz5-osd: picture %s cannot be read\n", name.c_str());
            cairo_surface_destroy(surface);
            surface = nullptr;
        }
    }
    pictures_.emplace(name, surface);
    return surface;
}
