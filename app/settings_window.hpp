// qz5-settings' window: the keyboard's keys, the T-keys and mapping keys,
// lighting and game mode for profiles 1-3, the changes not yet applied, and
// the keyboard as the daemon reports it.
#pragma once

#include <gtkmm.h>

#include <memory>
#include <string>
#include <vector>

#include "app/settings_model.hpp"
#include "client/daemon_client.hpp"

class SettingsWindow : public Gtk::ApplicationWindow {
public:
    SettingsWindow(std::unique_ptr<SettingsModel> model, std::unique_ptr<DaemonClient> client,
                   const std::string& busProblem);
    ~SettingsWindow() override;

    // The profile shown (0-2).
    void ShowProfile(int profile);

private:
    // Building.
    Gtk::Widget& BuildHeader();
    Gtk::Widget& BuildKeysPage();
    Gtk::Widget& BuildProgKeysPage();
    Gtk::Widget& BuildLightingPage();
    Gtk::Widget& BuildFooter();
    void FollowDaemon();

    // Showing the record.
    void Refresh();
    void RefreshKeyboard();
    void RefreshKeyPanel();
    void RefreshProgKeys();
    void RefreshProgKeyPanel();
    void RefreshLighting();
    void RefreshPending();
    void RefreshStatus();

    // Editing: words of `qz5ctl set`; a refusal goes into error.
    bool Edit(const std::string& slot, const std::vector<std::string>& words, Gtk::Label& error);
    std::string P() const { return std::to_string(profile_ + 1); }
    void ChooseLayoutKey(int row);
    void ChooseProgKey(int index);
    void CaptureKey();
    void OpenMacroWindow();
    void ChooseLaunchFile();
    void ChooseLaunchApplication();
    void Apply(bool save);
    void PostNext();
    void Revert();

    std::unique_ptr<SettingsModel> model_;
    std::unique_ptr<DaemonClient> client_;
    std::string busProblem_;
    int profile_ = 0;
    int layoutRow_ = -1;
    int progKey_ = 0;
    bool refreshing_ = false;  // controls set from the record do not edit it

    // The keyboard as the daemon last said.
    bool daemonRunning_ = false;
    bool statusKnown_ = false;
    DeviceStatus status_;
    int gameMode_ = -1;  // -1 unknown

    // Applying: the posts left, and the progress shown.
    std::vector<std::vector<std::string>> posts_;
    // Written to the file but not sent: qz5d was not running, or a change
    // before them did not reach the keyboard. The next Apply sends them.
    std::vector<std::vector<std::string>> unsent_;
    sigc::connection progressTick_, statusPoll_;

    Gtk::Box root_{Gtk::Orientation::VERTICAL};
    Gtk::Label statusLabel_;
    Gtk::ToggleButton profileButtons_[3];
    Gtk::Button makeCurrent_;
    Gtk::Label profileError_;
    Gtk::Stack pages_;
    Gtk::StackSwitcher pageSwitcher_;

    // Keys.
    Gtk::Fixed keyboard_;
    std::vector<Gtk::Button*> keyButtons_;
    Gtk::Label keyTitle_;
    Gtk::SearchEntry keySearch_;
    Gtk::ListBox keyMatches_;
    Gtk::Button keyCapture_{"Press the key…"};
    Gtk::Button keyDefault_{"Default"};
    Gtk::Label keyError_;
    Gtk::Label shiftError_;
    Gtk::DropDown shiftPrevious_, shiftNext_;
    bool capturing_ = false;

    // T-keys and mapping keys.
    Gtk::Box progList_{Gtk::Orientation::VERTICAL, 2};
    std::vector<Gtk::ToggleButton*> progButtons_;
    std::vector<Gtk::Label*> progRowLabels_;
    Gtk::Label progTitle_;
    Gtk::CheckButton actionNone_{"None"}, actionKey_{"A key"}, actionMacro_{"A macro"}, actionLaunch_{"Launch"};
    Gtk::Entry actionKeyEntry_, launchEntry_, macroName_, placedOn_;
    Gtk::Button launchFile_{"Choose a file…"}, launchApp_{"Choose an application…"};
    Gtk::DropDown repeat_;
    Gtk::TextView macroSteps_;
    Gtk::Button macroEdit_{"Edit…"};
    Gtk::Box placedBox_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Label actionError_, nameError_, placedError_;

    // Lighting and game mode.
    Gtk::DropDown lightStyle_;
    std::vector<Gtk::CheckButton*> zones_;
    Gtk::Switch game_;
    Gtk::Button lightPreview_{"Show it on screen"};
    Gtk::Label lightError_;

    // Footer.
    Gtk::Label pendingLabel_;
    Gtk::Button revert_{"Revert"}, apply_{"Apply"}, applySave_{"Apply and save"};
    Gtk::ProgressBar progress_;
    Gtk::Label result_;
};
