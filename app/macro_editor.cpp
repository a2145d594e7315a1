#include "app/macro_editor.hpp"

#include <adwaita.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "editing/words.hpp"
#include "keyboard/encoding.hpp"

namespace {

// Keys that can end a recording; the one chosen is not recorded.
struct StopKey {
    const char* name;
    uint32_t code;  // Linux input key code
};
constexpr StopKey kStopKeys[] = {
    {"Pause", KEY_PAUSE}, {"Scroll Lock", KEY_SCROLLLOCK}, {"Insert", KEY_INSERT},
    {"Right Control", KEY_RIGHTCTRL}, {"Escape", KEY_ESC},
};

// X servers and Wayland compositors both give the Linux key code plus 8.
constexpr guint kKeycodeOffset = 8;

void Name(Gtk::Widget& w, const std::string& label) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(w.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label.c_str(), -1);
}

// A button's accessible name: its label without the mnemonic's underscore
// (GTK would otherwise report both).
void NameButton(Gtk::Button& b) {
    std::string label = b.get_label();
    label.erase(std::remove(label.begin(), label.end(), '_'), label.end());
    Name(b, label);
}

Gtk::Label* Caption(const std::string& text, Gtk::Widget& target) {
    auto* l = Gtk::make_managed<Gtk::Label>(text, true);
    l->set_mnemonic_widget(target);
    l->set_xalign(0);
    return l;
}

// Its caption names it ("rounded to", "of"); the description says what of.
Gtk::SpinButton* Milliseconds(uint32_t value, const char* description) {
    auto* s = Gtk::make_managed<Gtk::SpinButton>(Gtk::Adjustment::create(value, 0, 65535, 10, 100), 1, 0);
    s->set_numeric(true);
    gtk_accessible_update_property(GTK_ACCESSIBLE(s->gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, description, -1);
    return s;
}

std::string ReadAll(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ok = static_cast<bool>(in) || in.eof();
    return text.str();
}

}  // namespace

struct MacroEditor::Widgets {
    Gtk::Box box{Gtk::Orientation::VERTICAL, 8};
    Gtk::Entry name;
    Gtk::ToggleButton record{"_Record", true};
    Gtk::DropDown stopKey{[] {
        std::vector<Glib::ustring> v;
        for (const auto& k : kStopKeys) v.emplace_back(k.name);
        return v;
    }()};
    Gtk::CheckButton asRecorded{"a_s recorded,", true}, fixedDelay{"a fixed dela_y", true}, noDelay{"n_one", true};
    Gtk::SpinButton* fixedMs = Milliseconds(50, "milliseconds of every delay when delays are fixed");
    Gtk::SpinButton* roundMs = Milliseconds(0, "milliseconds recorded delays are rounded to; 0 keeps them as they are");
    Gtk::Button applyDelays{"Apply to e_very delay", true};
    Gtk::Label captured;
    Gtk::ListBox steps;
    Gtk::ScrolledWindow scroll;
    Gtk::Entry step;
    Gtk::Button add{"_Add", true}, change{"C_hange", true}, duplicate{"Duplicat_e", true}, remove{"_Delete", true},
        up{"Move _up", true}, down{"Move do_wn", true};
    Gtk::DropDown clickButton{std::vector<Glib::ustring>{"left", "right", "middle"}};
    Gtk::Button addClick{"Add _click", true};
    Gtk::DropDown wheel{std::vector<Glib::ustring>{"up", "down"}};
    Gtk::Button addWheel{"Add wheel"};
    Gtk::Label capacity, message;
    Gtk::Button undo{"Undo"}, redo{"Redo"}, importButton{"_Import…", true},
        exportButton{"E_xport…", true}, cancel{"Cancel", true}, use{"Use _macro", true};
    std::unique_ptr<Gtk::FileChooserDialog> chooser;
};

MacroEditor::MacroEditor(const _QZ5_PROFILE& prof, int profile, int keyIndex, Done done)
    : profile_(std::make_unique<_QZ5_PROFILE>(prof)),
      profileIndex_(profile),
      keyIndex_(keyIndex),
      done_(std::move(done)),
      macro_(encoding::KeyInfo(prof, keyIndex).MACRO),
      w_(std::make_unique<Widgets>()) {
    Widgets& w = *w_;
    opened_ = macro_.Export(profileIndex_, keyIndex_);
    const std::string title = "Macro of " + ProgKeyName(keyIndex) + ", profile " + std::to_string(profile + 1);
    set_title(title);
    set_default_size(780, 640);

    w.box.set_margin(12);
    set_child(w.box);

    // Name, undo and redo.
    auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    top->append(*Caption("_Name", w.name));
    w.name.set_text(macro_.Name());
    w.name.set_hexpand(true);
    top->append(w.name);
    top->append(w.undo);
    top->append(w.redo);
    w.box.append(*top);

    // Recording, and the delays it makes.
    auto* rec = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    w.captured.set_xalign(0);
    w.captured.set_hexpand(true);
    w.captured.set_wrap(true);
    w.captured.set_max_width_chars(50);
    w.captured.set_text("Record: every key you press and release becomes a step, with the time between them.");
    rec->append(w.record);
    rec->append(*Caption("Stop _key", w.stopKey));
    rec->append(w.stopKey);
    rec->append(w.captured);
    w.box.append(*rec);
    auto* delays = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    delays->append(*Gtk::make_managed<Gtk::Label>("Delays:"));
    w.fixedDelay.set_group(w.asRecorded);
    w.noDelay.set_group(w.asRecorded);
    w.asRecorded.set_active(true);
    delays->append(w.asRecorded);
    delays->append(*Caption("rounded _to", *w.roundMs));
    delays->append(*w.roundMs);
    delays->append(*Gtk::make_managed<Gtk::Label>("ms"));
    delays->append(w.fixedDelay);
    delays->append(*Caption("o_f", *w.fixedMs));
    delays->append(*w.fixedMs);
    delays->append(*Gtk::make_managed<Gtk::Label>("ms"));
    delays->append(w.noDelay);
    for (Gtk::CheckButton* b : {&w.asRecorded, &w.fixedDelay, &w.noDelay})
        b->signal_toggled().connect([this] {
            w_->fixedMs->set_sensitive(Mode().kind == DelayMode::Fixed);
            w_->roundMs->set_sensitive(Mode().kind == DelayMode::AsRecorded);
        });
    w.box.append(*delays);
    auto* apply = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    apply->append(w.applyDelays);
    auto* hint = Gtk::make_managed<Gtk::Label>("A recording gets the delays chosen here; the button gives them to the steps already listed.");
    hint->set_wrap(true);
    hint->set_xalign(0);
    hint->add_css_class("dim-label");
    apply->append(*hint);
    w.box.append(*apply);

    // The steps.
    Name(w.steps, "Steps");
    w.steps.set_selection_mode(Gtk::SelectionMode::SINGLE);
    w.scroll.set_child(w.steps);
    w.scroll.set_vexpand(true);
    w.scroll.set_has_frame(true);
    w.box.append(w.scroll);
    // While recording, a click or a turn of the wheel over the step list is
    // a step too (and selects and scrolls nothing).
    auto click = Gtk::GestureClick::create();
    click->set_button(0);
    click->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    click->signal_pressed().connect([this, c = click.get()](int, double, double) {
        static constexpr const char* kNames[] = {"left", "middle", "right"};
        const guint button = c->get_current_button();
        if (!recording_ || button < 1 || button > 3) return;
        c->set_state(Gtk::EventSequenceState::CLAIMED);
        const auto mouse = button == 1 ? RecordedKey::Left : button == 2 ? RecordedKey::Middle : RecordedKey::Right;
        Record({0, true, 0, mouse}, c->get_current_event_time(), std::string("click ") + kNames[button - 1]);
    });
    w.scroll.add_controller(click);
    auto wheel = Gtk::EventControllerScroll::create();
    wheel->set_flags(Gtk::EventControllerScroll::Flags::VERTICAL | Gtk::EventControllerScroll::Flags::DISCRETE);
    wheel->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    wheel->signal_scroll().connect(
        [this, s = wheel.get()](double, double dy) {
            if (!recording_ || dy == 0) return recording_;
            Record({0, true, 0, dy < 0 ? RecordedKey::WheelUp : RecordedKey::WheelDown}, s->get_current_event_time(),
                   dy < 0 ? "wheel up" : "wheel down");
            return true;
        },
        false);
    w.scroll.add_controller(wheel);

    auto* edit = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    edit->append(*Caption("Ste_p", w.step));
    w.step.set_hexpand(true);
    w.step.set_width_chars(16);
    w.step.set_placeholder_text("tap A, delay 50, click left …");
    edit->append(w.step);
    for (Gtk::Button* b : {&w.add, &w.change, &w.duplicate, &w.remove, &w.up, &w.down}) edit->append(*b);
    w.box.append(*edit);

    auto* mouse = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    mouse->append(*Caption("Mouse _button", w.clickButton));
    mouse->append(w.clickButton);
    mouse->append(w.addClick);
    mouse->append(*Caption("Whee_l", w.wheel));
    mouse->append(w.wheel);
    mouse->append(w.addWheel);
    w.box.append(*mouse);

    w.capacity.set_xalign(0);
    w.capacity.set_wrap(true);
    w.message.set_xalign(0);
    w.message.set_wrap(true);
    w.box.append(w.capacity);
    w.box.append(w.message);

    auto* bottom = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    bottom->append(w.importButton);
    bottom->append(w.exportButton);
    auto* gap = Gtk::make_managed<Gtk::Box>();
    gap->set_hexpand(true);
    bottom->append(*gap);
    bottom->append(w.cancel);
    w.use.add_css_class("suggested-action");
    bottom->append(w.use);
    w.box.append(*bottom);

    for (Gtk::Button* b : {static_cast<Gtk::Button*>(&w.record), &w.applyDelays, &w.add, &w.change, &w.duplicate,
                           &w.remove, &w.up, &w.down, &w.addClick, &w.addWheel, &w.undo, &w.redo, &w.importButton,
                           &w.exportButton, &w.cancel, &w.use})
        NameButton(*b);

    // What the controls do.
    auto commitName = [this] {
        if (w_->name.get_text().raw() == macro_.Name()) return true;
        if (Result<> r = macro_.SetName(w_->name.get_text()); !r) return Say(r.error(), true), false;
        Refresh(false);
        return true;
    };
    w.name.signal_activate().connect([commitName] { commitName(); });
    auto nameFocus = Gtk::EventControllerFocus::create();
    nameFocus->signal_leave().connect([commitName] { commitName(); });
    w.name.add_controller(nameFocus);
    w.undo.signal_clicked().connect([this] {
        if (macro_.Undo()) Refresh();
    });
    w.redo.signal_clicked().connect([this] {
        if (macro_.Redo()) Refresh();
    });
    w.record.signal_toggled().connect([this] {
        if (w_->record.get_active() != recording_) w_->record.get_active() ? StartRecording() : StopRecording();
    });
    w.fixedMs->set_sensitive(false);
    w.applyDelays.signal_clicked().connect([this] {
        macro_.ApplyDelays(Mode());
        Refresh();
    });
    w.steps.signal_row_selected().connect([this](Gtk::ListBoxRow* row) {
        if (row && static_cast<size_t>(row->get_index()) < macro_.Steps().size())
            w_->step.set_text(macro_.Steps()[static_cast<size_t>(row->get_index())].Text());
        Refresh(false);
    });
    auto parsed = [this](std::vector<MacroStep>& out) {
        std::vector<std::string> notes;
        auto r = ParseSteps(w_->step.get_text(), &notes);
        if (!r) return Say(r.error(), true), false;
        if (r->empty()) return Say("Type a step first, say \"tap A\" or \"delay 50\".", true), false;
        Say(notes.empty() ? "" : notes.front(), !notes.empty());
        out = std::move(*r);
        return true;
    };
    w.add.signal_clicked().connect([this, parsed] {
        std::vector<MacroStep> s;
        if (parsed(s)) AddSteps(s);
    });
    w.step.signal_activate().connect([this, parsed] {
        std::vector<MacroStep> s;
        if (parsed(s)) AddSteps(s);
    });
    w.change.signal_clicked().connect([this, parsed] {
        std::vector<MacroStep> s;
        const size_t i = Selected();
        if (i >= macro_.Steps().size() || !parsed(s)) return;
        if (s.size() != 1) return Say("One step replaces one step: type a single line.", true);
        macro_.Change(i, s[0]);
        Refresh();
    });
    w.duplicate.signal_clicked().connect([this] {
        const size_t i = Selected();
        macro_.Duplicate(i);
        Refresh();
        Select(i + 1);
    });
    w.remove.signal_clicked().connect([this] {
        const size_t i = Selected();
        macro_.Delete(i);
        Refresh();
        if (!macro_.Steps().empty()) Select(std::min(i, macro_.Steps().size() - 1));
    });
    w.up.signal_clicked().connect([this] {
        const size_t i = Selected();
        if (i == 0 || i >= macro_.Steps().size()) return;
        macro_.Move(i, i - 1);
        Refresh();
        Select(i - 1);
    });
    w.down.signal_clicked().connect([this] {
        const size_t i = Selected();
        if (i + 1 >= macro_.Steps().size()) return;
        macro_.Move(i, i + 1);
        Refresh();
        Select(i + 1);
    });
    w.addClick.signal_clicked().connect(
        [this] { AddSteps({ClickStep(static_cast<int>(w_->clickButton.get_selected()))}); });
    w.addWheel.signal_clicked().connect([this] { AddSteps({WheelStep(w_->wheel.get_selected() == 0)}); });
    w.importButton.signal_clicked().connect([this] { Import(); });
    w.exportButton.signal_clicked().connect([this] { Export(); });
    w.cancel.signal_clicked().connect([this] { close(); });
    w.use.signal_clicked().connect([this, commitName] {
        if (!commitName()) return;
        if (!macro_.Measure(*profile_, profileIndex_, keyIndex_).refusal.empty()) return;
        if (done_) done_(macro_);
        leaving_ = true;
        close();
    });

    // Keys: the recorder's, ahead of every widget; undo and redo.
    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    Gtk::EventControllerKey* k = keys.get();
    keys->signal_key_pressed().connect(
        [this, k](guint, guint keycode, Gdk::ModifierType) {
            return OnKey(keycode, true, k->get_current_event_time());
        },
        false);
    keys->signal_key_released().connect(
        [this, k](guint, guint keycode, Gdk::ModifierType) { OnKey(keycode, false, k->get_current_event_time()); });
    add_controller(keys);
    auto shortcuts = Gtk::ShortcutController::create();
    shortcuts->add_shortcut(Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string("<Control>z"),
                                                  Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                                                      return macro_.Undo() ? (Refresh(), true) : false;
                                                  })));
    shortcuts->add_shortcut(Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string("<Control><Shift>z|<Control>y"),
                                                  Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                                                      return macro_.Redo() ? (Refresh(), true) : false;
                                                  })));
    add_controller(shortcuts);

    Refresh();
}

MacroEditor::~MacroEditor() {
    if (recording_) gdk_toplevel_restore_system_shortcuts(GDK_TOPLEVEL(get_surface()->gobj()));
}

MacroEditor* MacroEditor::Open(Gtk::Window& parent, const _QZ5_PROFILE& prof, int profile, int keyIndex, Done done) {
    auto* editor = new MacroEditor(prof, profile, keyIndex, std::move(done));
    editor->set_transient_for(parent);
    editor->set_modal(true);
    editor->signal_close_request().connect(
        [editor] {
            if (!editor->leaving_ && editor->Edited()) return editor->AskToDiscard(), true;
            Glib::signal_idle().connect_once([editor] { delete editor; });
            return false;
        },
        false);
    editor->present();
    return editor;
}

bool MacroEditor::Edited() const {
    return macro_.Export(profileIndex_, keyIndex_) != opened_ || w_->name.get_text().raw() != macro_.Name();
}

void MacroEditor::AskToDiscard() {
    if (asking_) return;  // closed again while it asks: one question is enough
    asking_ = true;
    GtkWidget* ask = adw_message_dialog_new(gobj(), "Discard the changes to this macro?",
                                            "The key keeps the macro it had when the editor opened.");
    AdwMessageDialog* dialog = ADW_MESSAGE_DIALOG(ask);
    adw_message_dialog_add_responses(dialog, "keep", "_Keep editing", "discard", "_Discard", nullptr);
    adw_message_dialog_set_response_appearance(dialog, "discard", ADW_RESPONSE_DESTRUCTIVE);
    adw_message_dialog_set_default_response(dialog, "keep");
    adw_message_dialog_set_close_response(dialog, "keep");
    gtk_window_set_destroy_with_parent(GTK_WINDOW(ask), TRUE);
    g_signal_connect(ask, "response", G_CALLBACK(+[](AdwMessageDialog*, const char* response, gpointer self) {
                         auto* editor = static_cast<MacroEditor*>(self);
                         editor->asking_ = false;
                         if (g_strcmp0(response, "discard") != 0) return;
                         editor->leaving_ = true;
                         editor->close();
                     }),
                     this);
    gtk_window_present(GTK_WINDOW(ask));
}

DelayMode MacroEditor::Mode() const {
    DelayMode m;
    m.kind = w_->fixedDelay.get_active() ? DelayMode::Fixed
             : w_->noDelay.get_active()  ? DelayMode::None
                                         : DelayMode::AsRecorded;
    w_->fixedMs->update();  // what is typed counts before Enter
    w_->roundMs->update();
    m.fixedMs = static_cast<uint32_t>(w_->fixedMs->get_value_as_int());
    m.roundMs = static_cast<uint32_t>(w_->roundMs->get_value_as_int());
    return m;
}

size_t MacroEditor::Selected() const {
    const Gtk::ListBoxRow* row = w_->steps.get_selected_row();
    return row ? static_cast<size_t>(row->get_index()) : SIZE_MAX;
}

size_t MacroEditor::InsertAt() const {
    const size_t i = Selected();
    return i == SIZE_MAX ? macro_.Steps().size() : i + 1;
}

void MacroEditor::Select(size_t row) {
    if (Gtk::ListBoxRow* r = w_->steps.get_row_at_index(static_cast<int>(row))) {
        w_->steps.select_row(*r);
        r->grab_focus();
        // Into view once the new rows have their places (after the layout).
        Glib::signal_idle().connect_once([this, row] {
            Gtk::ListBoxRow* at = w_->steps.get_row_at_index(static_cast<int>(row));
            if (!at) return;
            auto adj = w_->scroll.get_vadjustment();
            const Gtk::Allocation a = at->get_allocation();
            if (a.get_y() < adj->get_value()) adj->set_value(a.get_y());
            else if (a.get_y() + a.get_height() > adj->get_value() + adj->get_page_size())
                adj->set_value(a.get_y() + a.get_height() - adj->get_page_size());
        });
    }
}

void MacroEditor::AddSteps(const std::vector<MacroStep>& steps) {
    const size_t at = InsertAt();
    macro_.Insert(at, steps);
    Refresh();
    Select(at + steps.size() - 1);
}

void MacroEditor::Refresh(bool steps) {
    Widgets& w = *w_;
    if (steps) {
        // Only the rows that differ are made again: a macro holds thousands
        // of steps, and most edits touch a few.
        const size_t keep = Selected();
        std::vector<std::string> texts;
        texts.reserve(macro_.Steps().size());
        for (const MacroStep& s : macro_.Steps()) texts.push_back(s.Text());
        size_t head = 0, tail = 0;
        while (head < texts.size() && head < shown_.size() && texts[head] == shown_[head]) ++head;
        while (tail < texts.size() - head && tail < shown_.size() - head &&
               texts[texts.size() - 1 - tail] == shown_[shown_.size() - 1 - tail])
            ++tail;
        for (size_t gone = shown_.size() - head - tail; gone > 0; --gone)
            w.steps.remove(*w.steps.get_row_at_index(static_cast<int>(head)));
        for (size_t i = head; i < texts.size() - tail; ++i) {
            auto* l = Gtk::make_managed<Gtk::Label>();
            l->set_xalign(0);
            l->set_margin_start(6);
            w.steps.insert(*l, static_cast<int>(i));
        }
        // Numbers shift after the first change when the count changed.
        const size_t renumber = texts.size() == shown_.size() ? texts.size() - tail : texts.size();
        for (size_t i = head; i < renumber; ++i)
            static_cast<Gtk::Label*>(w.steps.get_row_at_index(static_cast<int>(i))->get_child())
                ->set_text(std::to_string(i + 1) + ". " + texts[i]);
        shown_ = std::move(texts);
        if (keep != SIZE_MAX && keep < macro_.Steps().size())
            w.steps.select_row(*w.steps.get_row_at_index(static_cast<int>(keep)));
        if (w.name.get_text().raw() != macro_.Name()) w.name.set_text(macro_.Name());
    }
    const MacroCapacity c = macro_.Measure(*profile_, profileIndex_, keyIndex_);
    w.capacity.set_text(std::to_string(c.records) + " of " + std::to_string(kMacroStepMax) + " steps on " +
                        ProgKeyName(keyIndex_) + "; profile " + std::to_string(profileIndex_ + 1) + "'s keys take " +
                        std::to_string(c.bytes) + " of " + std::to_string(kMacroStreamSize) +
                        " bytes of macro memory");
    if (!c.refusal.empty()) {
        w.capacity.set_text(w.capacity.get_text() + "\nCannot be used: " + c.refusal);
        w.capacity.add_css_class("error");
    } else {
        w.capacity.remove_css_class("error");
    }
    const bool idle = !recording_;
    const bool chosen = Selected() < macro_.Steps().size();
    w.use.set_sensitive(idle && c.refusal.empty());
    w.undo.set_sensitive(idle && macro_.CanUndo());
    w.redo.set_sensitive(idle && macro_.CanRedo());
    for (Gtk::Widget* b : {&w.change, &w.duplicate, &w.remove}) b->set_sensitive(idle && chosen);
    w.up.set_sensitive(idle && chosen && Selected() > 0);
    w.down.set_sensitive(idle && chosen && Selected() + 1 < macro_.Steps().size());
    for (Gtk::Widget* b : std::initializer_list<Gtk::Widget*>{&w.add, &w.addClick, &w.addWheel, &w.applyDelays,
                                                              &w.importButton, &w.exportButton, &w.steps, &w.step,
                                                              &w.name, &w.stopKey})
        b->set_sensitive(idle);
}

void MacroEditor::Say(const std::string& message, bool problem) {
    w_->message.set_text(message);
    if (problem) w_->message.add_css_class("error");
    else w_->message.remove_css_class("error");
}

void MacroEditor::StartRecording() {
    recording_ = true;
    recorded_.clear();
    down_.clear();
    capturedText_.clear();
    elapsed_ = 0;
    if (auto surface = get_surface()) gdk_toplevel_inhibit_system_shortcuts(GDK_TOPLEVEL(surface->gobj()), nullptr);
    w_->record.set_label("Stop _recording");
    NameButton(w_->record);
    w_->record.add_css_class("destructive-action");
    const std::string stop = kStopKeys[std::min<size_t>(w_->stopKey.get_selected(), std::size(kStopKeys) - 1)].name;
    w_->captured.set_text("Recording: type the macro (clicks and the wheel over the steps count too); press " + stop +
                          " or click Stop recording to end.");
    Say("", false);
    Refresh(false);
}

void MacroEditor::StopRecording() {
    recording_ = false;
    if (auto surface = get_surface()) gdk_toplevel_restore_system_shortcuts(GDK_TOPLEVEL(surface->gobj()));
    w_->record.set_label("_Record");
    NameButton(w_->record);
    w_->record.remove_css_class("destructive-action");
    if (w_->record.get_active()) w_->record.set_active(false);
    const auto steps = StepsFromRecording(recorded_, Mode());
    w_->captured.set_text(recorded_.empty() ? "Nothing recorded."
                                            : "Recorded " + std::to_string(recorded_.size()) + " inputs into " +
                                                  std::to_string(steps.size()) + " steps.");
    if (!down_.empty()) Say("Keys still held when the recording ended have no release step.", false);
    Refresh(false);
    if (!steps.empty()) AddSteps(steps);
}

bool MacroEditor::OnKey(guint keycode, bool pressed, uint32_t ms) {
    if (!recording_) return false;
    const uint32_t code = keycode >= kKeycodeOffset ? keycode - kKeycodeOffset : 0;
    const auto held = std::find(down_.begin(), down_.end(), code);
    if (pressed && code == kStopKeys[std::min<size_t>(w_->stopKey.get_selected(), std::size(kStopKeys) - 1)].code) {
        StopRecording();
        return true;
    }
    if (pressed == (held != down_.end())) return true;  // a repeat, or the release of a key pressed before
    if (pressed) down_.push_back(code);
    else down_.erase(held);
    if (const int vkey = MacKeyOfLinuxKey(code); vkey >= 0)
        Record({static_cast<uint32_t>(vkey), pressed, 0}, ms,
               (pressed ? "press " : "release ") + KeyName(static_cast<uint32_t>(vkey)));
    else if (pressed)
        ShowCaptured("(a key the keyboard does not have)");
    return true;
}

void MacroEditor::Record(RecordedKey input, uint32_t ms, const std::string& what) {
    // Event times are 32-bit milliseconds and wrap after 49 days.
    const uint32_t gap = recorded_.empty() ? 0 : ms - lastMs_;
    elapsed_ += gap;
    lastMs_ = ms;
    input.ms = elapsed_;
    recorded_.push_back(input);
    if (recorded_.size() > 1) capturedText_ += std::to_string(gap) + " ms  ";
    ShowCaptured(what);
}

void MacroEditor::ShowCaptured(const std::string& what) {
    capturedText_ += what + "  ";
    // The latest of it, from the start of a step.
    if (const size_t cut = capturedText_.find("  ", capturedText_.size() > 90 ? capturedText_.size() - 90 : 0);
        capturedText_.size() > 90 && cut != std::string::npos)
        capturedText_.erase(0, cut + 2);
    w_->captured.set_text("Recording (" + std::to_string(recorded_.size()) + "): " + capturedText_);
}

void MacroEditor::Import() {
    w_->chooser = std::make_unique<Gtk::FileChooserDialog>(*this, "Import a macro", Gtk::FileChooser::Action::OPEN);
    w_->chooser->add_button("_Cancel", Gtk::ResponseType::CANCEL);
    w_->chooser->add_button("_Import", Gtk::ResponseType::ACCEPT);
    w_->chooser->set_modal(true);
    w_->chooser->signal_response().connect([this](int response) {
        auto file = w_->chooser->get_file();
        w_->chooser->hide();
        Glib::signal_idle().connect_once([this] { w_->chooser.reset(); });
        if (response != Gtk::ResponseType::ACCEPT || !file) return;
        bool ok = false;
        const std::string text = ReadAll(file->get_path(), ok);
        if (!ok) return Say("Cannot read " + file->get_path(), true);
        std::vector<std::string> notes;
        if (Result<> r = macro_.Import(text, &notes); !r) return Say(file->get_path() + ": " + r.error(), true);
        Refresh();
        Say(notes.empty() ? "Imported " + file->get_path() : file->get_path() + ": " + notes.front(), !notes.empty());
    });
    w_->chooser->show();
}

void MacroEditor::Export() {
    w_->chooser = std::make_unique<Gtk::FileChooserDialog>(*this, "Export the macro", Gtk::FileChooser::Action::SAVE);
    w_->chooser->add_button("_Cancel", Gtk::ResponseType::CANCEL);
    w_->chooser->add_button("_Export", Gtk::ResponseType::ACCEPT);
    w_->chooser->set_modal(true);
    w_->chooser->set_current_name(ProgKeyName(keyIndex_) + "-macro.txt");
    w_->chooser->signal_response().connect([this](int response) {
        auto file = w_->chooser->get_file();
        w_->chooser->hide();
        Glib::signal_idle().connect_once([this] { w_->chooser.reset(); });
        if (response != Gtk::ResponseType::ACCEPT || !file) return;
        const std::string path = file->get_path();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << macro_.Export(profileIndex_, keyIndex_);
        out.close();
        if (!out) return Say("Cannot write " + path, true);
        Say("Exported to " + path, false);
    });
    w_->chooser->show();
}
