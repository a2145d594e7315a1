// qz5-osd: the daemon's on-screen display. Reads OSD codes, one decimal
// integer per line, from standard input and shows the picture for each for
// three seconds. Exits 0 at the end of its input, kOsdNoDisplayStatus when
// there is no X display to show anything on.
#include <gio/gunixinputstream.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <memory>
#include <string_view>

#include "osd/osd_core.hpp"
#include "osd/osd_window.hpp"
extern "C" {
#include "osd_pictures_resource.h"  // generated C, without extern "C" of its own
}
#include "platform/osd.hpp"

namespace {

// The one window, made for the first code and kept to the end; how many hold
// it is logged before each show.
std::shared_ptr<OsdWindow> g_window;

void ShowCode(int code) {
    if (!g_window) g_window = std::make_shared<OsdWindow>();
    std::fprintf(stderr, "qz5-osd: %ld\n", g_window.use_count());
    g_window->show(code);
}

void Finish() {
    if (g_window) g_window->hide();
    gtk_main_quit();
}

void ReadNextLine(GDataInputStream* input);

void OnLine(GObject* source, GAsyncResult* result, gpointer) {
    auto* input = G_DATA_INPUT_STREAM(source);
    GError* error = nullptr;
    gsize length = 0;
    char* line = g_data_input_stream_read_line_finish(input, result, &length, &error);
    if (!line) {  // end of input, or it cannot be read
        if (error) {
            std::fprintf(stderr, "qz5-osd: cannot read standard input: %s\n", error->message);
            g_error_free(error);
        }
        Finish();
        return;
    }
    if (const auto code = ParseOsdCodeLine(std::string_view(line, length)))
        ShowCode(*code);
    else
        std::fprintf(stderr, "qz5-osd: ignoring a line that is not a code: %s\n", line);
    g_free(line);
    ReadNextLine(input);
}

// Reads without making standard input non-blocking, which would also change
// it for whoever shares it (a terminal, when run by hand).
void ReadNextLine(GDataInputStream* input) {
    g_data_input_stream_read_line_async(input, G_PRIORITY_DEFAULT, nullptr, OnLine, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "qz5-osd: no X display to show the on-screen display on\n");
        return kOsdNoDisplayStatus;
    }
    qz5_osd_pictures_register_resource();

    GInputStream* in = g_unix_input_stream_new(0, FALSE);
    GDataInputStream* input = g_data_input_stream_new(in);
    g_object_unref(in);
    ReadNextLine(input);
    gtk_main();

    g_window.reset();
    g_object_unref(input);
    qz5_osd_pictures_unregister_resource();
    return 0;
}
