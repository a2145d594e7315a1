// A test-only host for the macro editor: opens it on one key of a settings
// file and, when the user chooses "Use macro", stores the macro into the file
// through the editing library and prints what happened, one line.
//   qz5-macro-editor-host FILE PROFILE(1-3) KEY(T1-T12, M1-M8)
#include <gtkmm.h>

#include <cstdio>
#include <string>

#include "app/macro_editor.hpp"
#include "editing/editor.hpp"
#include "editing/words.hpp"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE PROFILE KEY\n", argv[0]);
        return 2;
    }
    const std::string file = argv[1];
    const int profile = std::stoi(argv[2]) - 1;
    const int key = ProgKeyIndex(argv[3]);
    auto loaded = LoadSettingsFile(file);
    if (!loaded) {
        std::fprintf(stderr, "%s\n", loaded.error().c_str());
        return 1;
    }
    auto app = Gtk::Application::create("org.qz5d.MacroEditorHost", Gio::Application::Flags::NON_UNIQUE);
    MacroEditor* editor = nullptr;
    app->signal_activate().connect([&] {
        editor = new MacroEditor((*loaded)->PROFILE[profile], profile, key, [&](const MacroSteps& macro) {
            auto r = EditSettingsFile(file, [&](_QZ5_CONFIG& rec) { return macro.StoreInto(rec.PROFILE[profile], profile, key); });
            if (r) std::printf("stored %zu steps\n", macro.Records());
            else std::printf("refused: %s\n", r.error().c_str());
            std::fflush(stdout);
        });
        app->add_window(*editor);
        editor->present();
        std::printf("ready\n");
        std::fflush(stdout);
    });
    const int status = app->run(1, argv);
    delete editor;
    return status;
}
