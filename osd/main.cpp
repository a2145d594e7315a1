// qz5-osd: the daemon's on-screen display. Reads OSD codes, one decimal
// integer per line, from standard input and shows the picture for each for
// three seconds. How it shows itself is chosen from what the session offers
// (a Wayland compositor with layer-shell, an X display, a notification
// server) or forced with --backend NAME or QZ5_OSD_BACKEND=NAME. Exits 0 at
// the end of its input, kOsdNoDisplayStatus when there is nothing to show
// anything on, 2 for a usage error.
#include <gio/gunixinputstream.h>
#include <gtk/gtk.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "osd/osd_core.hpp"
#include "osd/osd_notification.hpp"
#include "osd/osd_window.hpp"
extern "C" {
#include "osd_pictures_resource.h"  // generated C, without extern "C" of its own
}
#include "platform/osd.hpp"

namespace {

GMainLoop* g_loop = nullptr;
// The one window (or bubble), made for the first code and kept to the end;
// how many hold it is logged before each show.
std::shared_ptr<OsdPresenter> g_presenter;
OsdBackend g_backend = OsdBackend::X11;
GDBusConnection* g_bus = nullptr;

void ShowCode(int code) {
    if (!g_presenter) {
        if (g_backend == OsdBackend::Notification)
            g_presenter = std::make_shared<OsdNotification>(g_bus);
        else
            g_presenter = std::make_shared<OsdWindow>(g_backend == OsdBackend::LayerShell);
    }
    std::fprintf(stderr, "qz5-osd: %ld\n", g_presenter.use_count());
    g_presenter->show(code);
}

void Finish() {
    if (g_presenter) g_presenter->hide();
    g_main_loop_quit(g_loop);
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

// Whether the Wayland compositor (WAYLAND_DISPLAY) offers layer-shell.
bool CompositorHasLayerShell() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) return false;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return false;
    bool found = false;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0) *static_cast<bool*>(data) = true;
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &found);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found;
}

GDBusConnection* SessionBus() {
    if (!g_bus) g_bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    return g_bus;
}

int Usage(const char* why) {
    std::fprintf(stderr, "qz5-osd: %s\nusage: qz5-osd [--backend auto|layer-shell|x11|notification]\n", why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* wantedName = std::getenv("QZ5_OSD_BACKEND");
    bool fromEnvironment = wantedName && *wantedName;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--backend" && i + 1 < argc) {
            wantedName = argv[++i];
            fromEnvironment = false;
        } else if (arg.rfind("--backend=", 0) == 0) {
            wantedName = argv[i] + 10;
            fromEnvironment = false;
        } else {
            return Usage(("unknown argument " + std::string(arg)).c_str());
        }
    }
    OsdBackend wanted = OsdBackend::Auto;
    if (wantedName && *wantedName) {
        if (const auto parsed = ParseOsdBackend(wantedName))
            wanted = *parsed;
        else if (fromEnvironment)
            std::fprintf(stderr, "qz5-osd: QZ5_OSD_BACKEND=%s names no backend; choosing one\n", wantedName);
        else
            return Usage((std::string("no backend called ") + wantedName).c_str());
    }

    OsdDesktop desktop;
    if (wanted == OsdBackend::Auto) {
        desktop.layerShell = CompositorHasLayerShell();
        const char* x = std::getenv("DISPLAY");
        desktop.x11 = !desktop.layerShell && x && *x;
        desktop.notifications = !desktop.layerShell && !desktop.x11 && SessionBus() &&
                                OsdNotification::Available(SessionBus());
    }
    const auto backend = ChooseOsdBackend(wanted, desktop);
    if (!backend) {
        std::fprintf(stderr, "qz5-osd: no display to show the on-screen display on (no Wayland compositor "
                             "with layer-shell, no X display, no notification server)\n");
        return kOsdNoDisplayStatus;
    }
    g_backend = *backend;
    if (g_backend == OsdBackend::Notification) {
        if (!SessionBus()) {
            std::fprintf(stderr, "qz5-osd: no session bus for notifications\n");
            return kOsdNoDisplayStatus;
        }
    } else {
        gdk_set_allowed_backends(g_backend == OsdBackend::LayerShell ? "wayland" : "x11");
        const char* kind = g_backend == OsdBackend::LayerShell ? "Wayland" : "X";
        if (!gtk_init_check(&argc, &argv)) {
            // A DISPLAY left behind by a session that is gone: the desktop's
            // notifications may still reach the user.
            if (wanted != OsdBackend::Auto || !SessionBus() || !OsdNotification::Available(SessionBus())) {
                std::fprintf(stderr, "qz5-osd: no %s display to show the on-screen display on\n", kind);
                return kOsdNoDisplayStatus;
            }
            std::fprintf(stderr, "qz5-osd: the %s display cannot be opened; choosing notifications\n", kind);
            g_backend = OsdBackend::Notification;
        }
    }
    std::fprintf(stderr, "qz5-osd: showing on %s%s\n", OsdBackendName(g_backend),
                 wanted == OsdBackend::Auto ? "" : " (as asked)");
    qz5_osd_pictures_register_resource();

    g_loop = g_main_loop_new(nullptr, FALSE);
    GInputStream* in = g_unix_input_stream_new(0, FALSE);
    GDataInputStream* input = g_data_input_stream_new(in);
    g_object_unref(in);
    ReadNextLine(input);
    g_main_loop_run(g_loop);

    g_presenter.reset();
    g_object_unref(input);
    g_main_loop_unref(g_loop);
    if (g_bus) g_object_unref(g_bus);
    qz5_osd_pictures_unregister_resource();
    return 0;
}
