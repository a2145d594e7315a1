// The macro editor: a window that edits one programmable key's macro as a
// list of steps, records key presses and releases with their timing, shows
// what the macro takes of the key and of the profile's macro memory, and
// imports and exports the text of `qz5ctl macro`. It hands the macro back
// through a callback and never writes the settings file itself.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>

#include "config/qz5_config.hpp"
#include "editing/macro_steps.hpp"

class MacroEditor : public Gtk::Window {
public:
    // Called with the edited macro when the user chooses "Use macro"; only
    // with a macro that fits (MacroSteps::StoreInto succeeds on prof).
    using Done = std::function<void(const MacroSteps&)>;

    // Edits the macro of key keyIndex (0-19) of profile (0-2); prof is that
    // profile as the caller has it: the key's macro to start from, and the
    // other keys for the memory figures.
    MacroEditor(const _QZ5_PROFILE& prof, int profile, int keyIndex, Done done);
    ~MacroEditor() override;

    // Opens an editor over parent (modal to it); it deletes itself when closed.
    static MacroEditor* Open(Gtk::Window& parent, const _QZ5_PROFILE& prof, int profile, int keyIndex, Done done);

    const MacroSteps& Macro() const { return macro_; }

private:
    struct Widgets;
    void Refresh(bool steps = true);
    void Select(size_t row);
    size_t Selected() const;
    size_t InsertAt() const;
    void AddSteps(const std::vector<MacroStep>& steps);
    void StartRecording();
    void StopRecording();
    bool OnKey(guint keycode, bool pressed, uint32_t ms);
    // One input into the recording, at event time ms, shown as what.
    void Record(RecordedKey input, uint32_t ms, const std::string& what);
    void ShowCaptured(const std::string& what);
    DelayMode Mode() const;
    void Import();
    void Export();
    void Say(const std::string& message, bool problem);
    // Steps or name differ from what the editor opened with.
    bool Edited() const;
    // Asks before edits are thrown away; closes if the user says so.
    void AskToDiscard();

    std::unique_ptr<_QZ5_PROFILE> profile_;  // the profile as the caller has it
    int profileIndex_, keyIndex_;
    Done done_;
    MacroSteps macro_;
    std::unique_ptr<Widgets> w_;
    std::string opened_;     // the macro's text as the editor opened it
    bool leaving_ = false;  // closing is decided: no more questions
    bool asking_ = false;   // the question is on screen
    bool recording_ = false;
    std::vector<RecordedKey> recorded_;
    std::vector<uint32_t> down_;  // Linux key codes held while recording
    std::vector<std::string> shown_;  // the step list's texts
    std::string capturedText_;
    uint32_t lastMs_ = 0;
    uint64_t elapsed_ = 0;  // since the first key recorded
};
