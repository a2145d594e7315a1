// Draws the OSD's pictures into OUTDIR, one PNG per code with a picture, and
// writes the resource list glib-compile-resources builds them from:
//   draw_osd_pictures OUTDIR
// Each picture is a translucent dark panel with a symbol and a short label.
// To change one, edit its case in DrawSymbol, or put a finished PNG of the same
// name into resources/pictures/ (that one is used instead).
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <utility>
#include <cstdio>
#include <fstream>
#include <string>

#include "osd/osd_core.hpp"

namespace {

constexpr int kWidth = 180;
constexpr int kHeight = 110;
constexpr double kSymbolY = 46;  // centre line of the symbol
constexpr double kPi = 3.14159265358979323846;

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

void White(cairo_t* cr) { cairo_set_source_rgb(cr, 1, 1, 1); }

void CentredText(cairo_t* cr, const char* text, double size, double cx, double baseline, bool bold) {
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text, &ext);
    cairo_move_to(cr, cx - ext.width / 2 - ext.x_bearing, baseline);
    cairo_show_text(cr, text);
}

// A right-pointing triangle with its left edge at x.
void Triangle(cairo_t* cr, double x, double cy, double w, double h, bool right) {
    cairo_move_to(cr, right ? x : x + w, cy - h / 2);
    cairo_line_to(cr, right ? x + w : x, cy);
    cairo_line_to(cr, right ? x : x + w, cy + h / 2);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void Digit(cairo_t* cr, int n) {
    cairo_set_line_width(cr, 3);
    cairo_arc(cr, kWidth / 2.0, kSymbolY, 30, 0, 2 * kPi);
    cairo_stroke(cr);
    const char text[2] = {char('0' + n), '\0'};
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 42);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text, &ext);
    cairo_move_to(cr, kWidth / 2.0 - ext.width / 2 - ext.x_bearing, kSymbolY - ext.height / 2 - ext.y_bearing);
    cairo_show_text(cr, text);
}

void Gamepad(cairo_t* cr) {
    const double cx = kWidth / 2.0, cy = kSymbolY;
    RoundedRect(cr, cx - 44, cy - 20, 88, 40, 18);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.12, 0.12, 0.14);
    cairo_rectangle(cr, cx - 32, cy - 3, 20, 6);  // d-pad
    cairo_rectangle(cr, cx - 25, cy - 10, 6, 20);
    cairo_fill(cr);
    for (const auto& [dx, dy] : {std::pair{20.0, -6.0}, {30.0, 2.0}, {20.0, 10.0}, {10.0, 2.0}}) {
        cairo_arc(cr, cx + dx, cy + dy - 2, 4, 0, 2 * kPi);
        cairo_fill(cr);
    }
}

void Keyboard(cairo_t* cr) {
    const double x0 = kWidth / 2.0 - 48, y0 = kSymbolY - 22;
    cairo_set_line_width(cr, 3);
    RoundedRect(cr, x0, y0, 96, 44, 6);
    cairo_stroke(cr);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 8; ++col) {
            if (row == 2 && col >= 2 && col <= 5) continue;
            cairo_rectangle(cr, x0 + 7 + col * 10.6, y0 + 7 + row * 11, 7, 7);
        }
    cairo_rectangle(cr, x0 + 7 + 2 * 10.6, y0 + 7 + 2 * 11, 4 * 10.6 - 3.6, 7);  // space bar
    cairo_fill(cr);
}

// A lamp with `level` of four bars lit; level 0 draws a pulse wave instead.
void Lighting(cairo_t* cr, int level) {
    const double cx = kWidth / 2.0, cy = kSymbolY;
    if (level == 0) {
        cairo_set_line_width(cr, 4);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_move_to(cr, cx - 56, cy);
        for (double x = -56; x <= 56; x += 2) cairo_line_to(cr, cx + x, cy - 22 * std::sin(x / 56 * 2 * kPi) * std::cos(x / 112 * kPi));
        cairo_stroke(cr);
        return;
    }
    cairo_arc(cr, cx - 34, cy, 13, 0, 2 * kPi);  // the lamp
    cairo_fill(cr);
    cairo_set_line_width(cr, 3);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 8; ++i) {
        const double a = i * kPi / 4;
        cairo_move_to(cr, cx - 34 + 18 * std::cos(a), cy + 18 * std::sin(a));
        cairo_line_to(cr, cx - 34 + 24 * std::cos(a), cy + 24 * std::sin(a));
    }
    cairo_stroke(cr);
    for (int bar = 0; bar < 4; ++bar) {
        const double h = 10 + bar * 8;
        cairo_rectangle(cr, cx + bar * 14, cy + 20 - h, 9, h);
        if (bar < level) {
            cairo_fill(cr);
        } else {
            cairo_set_line_width(cr, 1.5);
            cairo_stroke(cr);
        }
    }
}

void Media(cairo_t* cr, int code) {
    const double cx = kWidth / 2.0, cy = kSymbolY;
    switch (code) {
    case 0xB5:  // next track
        Triangle(cr, cx - 32, cy, 26, 36, true);
        Triangle(cr, cx - 6, cy, 26, 36, true);
        cairo_rectangle(cr, cx + 22, cy - 18, 7, 36);
        cairo_fill(cr);
        break;
    case 0xB6:  // previous track
        cairo_rectangle(cr, cx - 29, cy - 18, 7, 36);
        cairo_fill(cr);
        Triangle(cr, cx - 20, cy, 26, 36, false);
        Triangle(cr, cx + 6, cy, 26, 36, false);
        break;
    case 0xB7:  // stop
        RoundedRect(cr, cx - 18, cy - 18, 36, 36, 3);
        cairo_fill(cr);
        break;
    default:  // play / pause
        Triangle(cr, cx - 30, cy, 28, 36, true);
        cairo_rectangle(cr, cx + 6, cy - 18, 8, 36);
        cairo_rectangle(cr, cx + 20, cy - 18, 8, 36);
        cairo_fill(cr);
        break;
    }
}

const char* Label(int code) {
    switch (code) {
    case 0xF1: return "PROFILE 1";
    case 0xF2: return "PROFILE 2";
    case 0xF3: return "PROFILE 3";
    case 0xF8: return "GAME MODE";
    case 0xF9: return "NORMAL MODE";
    case 0xFA: return "LIGHTING 1";
    case 0xFB: return "LIGHTING 2";
    case 0xFC: return "LIGHTING 3";
    case 0xFD: return "LIGHTING 4";
    case 0xFE: return "PULSE";
    case 0xB5: return "NEXT TRACK";
    case 0xB6: return "PREVIOUS TRACK";
    case 0xB7: return "STOP";
    case 0xCD: return "PLAY / PAUSE";
    }
    return "";
}

void DrawSymbol(cairo_t* cr, int code) {
    switch (code) {
    case 0xF1: case 0xF2: case 0xF3: Digit(cr, code - 0xF0); break;
    case 0xF8: Gamepad(cr); break;
    case 0xF9: Keyboard(cr); break;
    case 0xFA: case 0xFB: case 0xFC: case 0xFD: Lighting(cr, code - 0xF9); break;
    case 0xFE: Lighting(cr, 0); break;
    default: Media(cr, code); break;
    }
}

bool DrawPicture(const OsdPictureEntry& entry, const std::string& path) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    cairo_t* cr = cairo_create(surface);
    RoundedRect(cr, 0, 0, kWidth, kHeight, 16);
    cairo_set_source_rgba(cr, 0.08, 0.08, 0.10, 0.80);
    cairo_fill_preserve(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.25);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
    White(cr);
    DrawSymbol(cr, entry.code);
    White(cr);
    CentredText(cr, Label(entry.code), 14, kWidth / 2.0, kHeight - 14, true);
    cairo_destroy(cr);
    const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (!ok) std::fprintf(stderr, "draw_osd_pictures: cannot write %s\n", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_osd_pictures OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gresources>\n  <gresource prefix=\"" +
        std::string(kOsdResourcePrefix.substr(0, kOsdResourcePrefix.size() - 1)) + "\">\n";
    for (const OsdPictureEntry& entry : OsdPictureEntries()) {
        if (!DrawPicture(entry, dir + "/" + entry.name)) return 1;
        xml += std::string("    <file>") + entry.name + "</file>\n";
    }
    xml += "  </gresource>\n</gresources>\n";
    std::ofstream out(dir + "/osd-pictures.gresource.xml");
    out << xml;
    // Drop cairo's and fontconfig's caches so a leak checker sees only our own leaks.
    cairo_debug_reset_static_data();
    FcFini();
    return out.flush() ? 0 : 1;
}
