// qz5-osd: the daemon's on-screen display. Reads OSD codes, one decimal
// integer per line, from standard input and shows the picture for each for
// three seconds. Exits 0 at the end of its input, kOsdNoDisplayStatus when
// there is no X display to show anything on.
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

std::shared_ptr<OsdWindow> g_window;  // made for the first code, then reused

void ShowCode(int code) {
    if (!g_window) g_window = std::make_shared<OsdWindow>();
    std::fprintf(stderr, "qz5-osd: %ld\n", g_window.use_count());
    g_window->show(code);
}

void Finish() {
    if (g_window) g_window->hide();
    gtk_main_quit();
}

gboolean OnInput(GIOChannel* channel, GIOCondition, gpointer) {
    for (;;) {
        gchar* line = nullptr;
        gsize length = 0;
        GError* error = nullptr;
        const GIOStatus status = g_io_channel_read_line(channel, &line, &length, nullptr, &error);
        switch (status) {
        case G_IO_STATUS_NORMAL:
            if (const auto code = ParseOsdCodeLine(std::string_view(line, length)))
                ShowCode(*code);
            else
                std::fprintf(stderr, "qz5-osd: ignoring a line that is not a code: %.*s\n",
                             static_cast<int>(std::string_view(line, length).find_last_not_of("\r\n") + 1), line);
            g_free(line);
            continue;
        case G_IO_STATUS_AGAIN:
            return G_SOURCE_CONTINUE;
        case G_IO_STATUS_ERROR:
            std::fprintf(stderr, "qz5-osd: cannot read standard input: %s\n", error->message);
            g_error_free(error);
            Finish();
            return G_SOURCE_REMOVE;
        case G_IO_STATUS_EOF:
            Finish();
            return G_SOURCE_REMOVE;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "qz5-osd: no X display to show the on-screen display on\n");
        return kOsdNoDisplayStatus;
    }
    qz5_osd_pictures_register_resource();

    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_channel_set_encoding(input, nullptr, nullptr);
    g_io_channel_set_flags(input, G_IO_FLAG_NONBLOCK, nullptr);
    g_io_add_watch(input, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), OnInput, nullptr);
    gtk_main();

    g_window.reset();
    g_io_channel_unref(input);
    qz5_osd_pictures_unregister_resource();
    return 0;
}
