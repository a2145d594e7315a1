// qz5-settings: the settings application for the QZ5 keyboard.
#include <adwaita.h>
#include <gtkmm.h>

#include "app/settings_window.hpp"
#include "config/xmlconfig.hpp"

int main(int argc, char** argv) {
    auto app = Gtk::Application::create("org.qz5d.Settings");
    SettingsWindow* window = nullptr;
    app->signal_startup().connect([] { adw_init(); });
    app->signal_activate().connect([&app, &window] {
        if (window) {
            window->present();
            return;
        }
        std::string busProblem;
        auto client = DaemonClient::Connect(busProblem);
        window = new SettingsWindow(std::make_unique<SettingsModel>(SettingsFilePath()), std::move(client), busProblem);
        app->add_window(*window);
        window->present();
    });
    const int status = app->run(argc, argv);
    delete window;
    return status;
}
