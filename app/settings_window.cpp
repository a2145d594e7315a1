#include "app/settings_window.hpp"

#include <gio/gdesktopappinfo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "app/macro_editor.hpp"
#include "config/settings_schema.hpp"
#include "editing/macro_text.hpp"
#include "editing/words.hpp"
#include "protocol/vocabulary.hpp"

namespace {

constexpr double kScale = 1.8;            // pixels per unit of the key table's rectangles
constexpr unsigned kChangeTimeoutMs = 120000;
constexpr double kFullDownloadSeconds = 6.5;  // about what a profile takes to send

// The name AT-SPI reports for a control.
void Name(Gtk::Widget& w, const std::string& name) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(w.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, name.c_str(), -1);
}
void Describe(Gtk::Widget& w, const std::string& text) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(w.gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, text.c_str(), -1);
}

void ErrorLabel(Gtk::Label& l) {
    l.add_css_class("error");
    l.set_wrap(true);
    l.set_xalign(0);
    l.set_visible(false);
}

void ShowError(Gtk::Label& l, const std::string& text) {
    l.set_text(text);
    l.set_visible(!text.empty());
}

Gtk::Label& Heading(Gtk::Box& box, const std::string& text) {
    auto* l = Gtk::make_managed<Gtk::Label>(text);
    l->add_css_class("heading");
    l->set_xalign(0);
    box.append(*l);
    return *l;
}

Glib::RefPtr<Gtk::StringList> Strings(const std::vector<std::string>& words) {
    std::vector<Glib::ustring> u(words.begin(), words.end());
    return Gtk::StringList::create(u);
}

_TKEY_INFO const& ProgKey(const _QZ5_PROFILE& p, int index) {
    return index < kTKeyCount ? p.TKEYINFO[index] : p.MAPPINGKEYINFO[index - kTKeyCount];
}

// What a key produces, in the words qz5ctl prints.
std::string Produces(const _QZ5_PROFILE& p, int row) {
    const uint32_t v = p.KEY[row];
    return KeyName(v == 0 ? StdKeyInfo[row].vkey : v - 1);
}

// A key's name short enough for its cap; the full name is its tooltip and
// its accessible name.
std::string CapText(std::string name) {
    static const std::map<std::string, std::string> shorter = {
        {"Escape", "Esc"}, {"PrintScreen", "PrtSc"}, {"ScrollLock", "ScrLk"}, {"PageUp", "PgUp"},
        {"PageDown", "PgDn"}, {"NumLock", "Num"}, {"Semicolon", ";"}, {"Comma", ","}, {"Period", "."},
        {"Slash", "/"}, {"Backslash", "\\"}, {"LeftBracket", "["}, {"RightBracket", "]"}, {"Quote", "'"},
        {"Grave", "`"}, {"Minus", "-"}, {"Equal", "="}, {"Plus", "+"}, {"Multiply", "*"}, {"Divide", "/"},
        {"Decimal", "."}, {"Equals", "="}, {"Clear", "Clr"}, {"RightControl", "RightCtrl"}};
    if (name.rfind("Keypad", 0) == 0 && name.size() > 6) name = name.substr(6);
    const auto it = shorter.find(name);
    return it == shorter.end() ? name : it->second;
}

std::string ActionText(const _TKEY_INFO& k) {
    switch (k.FUNCID) {
    case 1: return "key " + KeyName(k.SINGLE_KEYCODE);
    case 2: return std::string("macro") + (k.MACRO.MACRONAME[0] ? " “" + std::string(k.MACRO.MACRONAME) + "”" : "") +
                   ", " + std::to_string(k.MACRO.LENGTH) + " steps";
    case 3: return std::string("launch ") + k.LAUNCHPATH;
    default: return "none";
    }
}

// A word for a key from GDK's name for it ("Caps_Lock", "Control_R").
std::string WordOfKeyval(guint keyval) {
    const char* n = gdk_keyval_name(gdk_keyval_to_upper(keyval));
    if (!n) return "";
    std::string name = n;
    std::string side;
    if (name.size() > 2 && (name.ends_with("_L") || name.ends_with("_R"))) {
        side = name.ends_with("_L") ? "Left" : "Right";
        name.resize(name.size() - 2);
    }
    std::erase(name, '_');
    if (name == "Return") name = "Enter";
    if (name == "Prior") name = "PageUp";
    if (name == "Next") name = "PageDown";
    if (name == "BackSpace") name = "Backspace";
    return side + name;
}

}  // namespace

SettingsWindow::SettingsWindow(std::unique_ptr<SettingsModel> model, std::unique_ptr<DaemonClient> client,
                               const std::string& busProblem)
    : model_(std::move(model)), client_(std::move(client)), busProblem_(busProblem) {
    set_title("QZ5 keyboard settings");
    auto css = Gtk::CssProvider::create();
    css->load_from_data(
        ".keycap { padding: 0 1px; min-width: 0; min-height: 0; font-size: 7.5pt; font-weight: normal; }"
        ".keycap.accent { background: alpha(@accent_bg_color, 0.35); font-weight: bold; }"
        ".keycap.warning, .changed { box-shadow: inset 0 -3px @warning_color; }");
    Gtk::StyleContext::add_provider_for_display(get_display(), css, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    set_default_size(1000, 760);
    root_.append(BuildHeader());
    pages_.add(BuildKeysPage(), "keys", "Keys");
    pages_.add(BuildProgKeysPage(), "tkeys", "T-keys and mapping keys");
    pages_.add(BuildLightingPage(), "lighting", "Lighting and game mode");
    pages_.set_vexpand(true);
    pageSwitcher_.set_stack(pages_);
    pageSwitcher_.set_halign(Gtk::Align::CENTER);
    root_.append(pageSwitcher_);
    root_.append(pages_);
    root_.append(BuildFooter());
    set_child(root_);

    if (auto loaded = model_->Reload(); !loaded) ShowError(result_, loaded.error());
    profile_ = static_cast<int>(std::min<uint32_t>(model_->Shown().PROFILE_ID, 2));
    FollowDaemon();
    ChooseLayoutKey(-1);
    Refresh();
}

SettingsWindow::~SettingsWindow() {
    progressTick_.disconnect();
}

Gtk::Widget& SettingsWindow::BuildHeader() {
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    box->set_margin(12);
    statusLabel_.set_xalign(0);
    statusLabel_.set_wrap(true);
    statusLabel_.set_selectable(true);
    Name(statusLabel_, "Keyboard status");
    box->append(statusLabel_);
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* l = Gtk::make_managed<Gtk::Label>("Profile:");
    row->append(*l);
    auto* group = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
    group->add_css_class("linked");
    for (int p = 0; p < 3; ++p) {
        profileButtons_[p].set_label(std::to_string(p + 1));
        Name(profileButtons_[p], "Profile " + std::to_string(p + 1));
        if (p > 0) profileButtons_[p].set_group(profileButtons_[0]);
        profileButtons_[p].signal_toggled().connect([this, p] {
            if (!refreshing_ && profileButtons_[p].get_active()) ShowProfile(p);
        });
        group->append(profileButtons_[p]);
    }
    row->append(*group);
    makeCurrent_.set_label("Make it the keyboard's profile");
    makeCurrent_.signal_clicked().connect([this] { Edit("profile", {"profile", P()}, profileError_); });
    row->append(makeCurrent_);
    ErrorLabel(profileError_);
    row->append(profileError_);
    box->append(*row);
    return *box;
}

Gtk::Widget& SettingsWindow::BuildKeysPage() {
    auto* page = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    page->set_margin(12);
    // The keys where the key table puts them; its y grows upwards.
    float top = 0, right = 0, bottom = 1e9f, left = 1e9f;
    for (int r = 0; r < kStdKeyRowsInUse; ++r) {
        const auto& rc = StdKeyInfo[r].rect;
        left = std::min(left, rc[0]), right = std::max(right, rc[0] + rc[2]);
        bottom = std::min(bottom, rc[1]), top = std::max(top, rc[1] + rc[3]);
    }
    for (int r = 0; r < kStdKeyRowsInUse; ++r) {
        const auto& rc = StdKeyInfo[r].rect;
        auto* b = Gtk::make_managed<Gtk::Button>();
        b->add_css_class("keycap");
        b->set_size_request(static_cast<int>(std::lround(rc[2] * kScale)) - 2,
                            static_cast<int>(std::lround(rc[3] * kScale)) - 2);
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_ellipsize(Pango::EllipsizeMode::END);
        b->set_child(*label);
        b->signal_clicked().connect([this, r] { ChooseLayoutKey(r); });
        keyboard_.put(*b, (rc[0] - left) * kScale, (top - rc[1] - rc[3]) * kScale);
        keyButtons_.push_back(b);
    }
    keyboard_.set_size_request(static_cast<int>((right - left) * kScale), static_cast<int>((top - bottom) * kScale));
    auto* frame = Gtk::make_managed<Gtk::ScrolledWindow>();
    frame->set_child(keyboard_);
    frame->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::NEVER);
    frame->set_propagate_natural_height(true);
    page->append(*frame);

    auto* lower = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 24);
    auto* panel = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    panel->set_hexpand(true);
    keyTitle_.set_xalign(0);
    keyTitle_.add_css_class("heading");
    panel->append(keyTitle_);
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    keySearch_.set_property("placeholder-text", Glib::ustring("Find a key: Escape, F5, Super…"));
    keySearch_.set_hexpand(true);
    Name(keySearch_, "Key it produces");
    row->append(keySearch_);
    Name(keyCapture_, "Press the key");
    row->append(keyCapture_);
    Name(keyDefault_, "Default");
    row->append(keyDefault_);
    panel->append(*row);
    ErrorLabel(keyError_);
    panel->append(keyError_);
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_child(keyMatches_);
    scroll->set_min_content_height(150);
    Name(keyMatches_, "Matching keys");
    panel->append(*scroll);
    lower->append(*panel);

    keySearch_.signal_search_changed().connect([this] {
        const std::string text = keySearch_.get_text();
        while (auto* child = keyMatches_.get_row_at_index(0)) keyMatches_.remove(*child);
        std::string lower;
        for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        int shown = 0;
        for (const auto& k : AllKeyWords()) {
            std::string all = k.name + " " + k.macName;
            for (const auto& a : k.aliases) all += " " + a;
            std::string l;
            for (char c : all) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (!lower.empty() && l.find(lower) == std::string::npos) continue;
            auto* label = Gtk::make_managed<Gtk::Label>(k.name);
            label->set_xalign(0);
            keyMatches_.append(*label);
            if (++shown == 40) break;
        }
    });
    keySearch_.signal_activate().connect([this] {
        if (layoutRow_ >= 0)
            Edit(P() + " key " + std::to_string(layoutRow_), {P(), "key", KeyName(StdKeyInfo[layoutRow_].vkey),
                                                              keySearch_.get_text()}, keyError_);
    });
    keyMatches_.signal_row_activated().connect([this](Gtk::ListBoxRow* row) {
        auto* label = dynamic_cast<Gtk::Label*>(row->get_child());
        if (label && layoutRow_ >= 0)
            Edit(P() + " key " + std::to_string(layoutRow_),
                 {P(), "key", KeyName(StdKeyInfo[layoutRow_].vkey), label->get_text()}, keyError_);
    });
    keyDefault_.signal_clicked().connect([this] {
        if (layoutRow_ >= 0)
            Edit(P() + " key " + std::to_string(layoutRow_), {P(), "key", KeyName(StdKeyInfo[layoutRow_].vkey), "default"},
                 keyError_);
    });
    keyCapture_.signal_clicked().connect([this] { CaptureKey(); });
    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_pressed().connect(
        [this](guint keyval, guint, Gdk::ModifierType) {
            if (!capturing_) return false;
            capturing_ = false;
            keyCapture_.set_label("Press the key…");
            const std::string word = WordOfKeyval(keyval);
            if (layoutRow_ >= 0)
                Edit(P() + " key " + std::to_string(layoutRow_),
                     {P(), "key", KeyName(StdKeyInfo[layoutRow_].vkey), word.empty() ? "?" : word}, keyError_);
            return true;
        },
        false);
    add_controller(keys);

    // The instant-shift modifiers of the profile.
    auto* shift = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    Heading(*shift, "Instant profile shift");
    for (auto* dd : {&shiftPrevious_, &shiftNext_}) {
        const bool next = dd == &shiftNext_;
        auto* r = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
        auto* l = Gtk::make_managed<Gtk::Label>(next ? "Next profile with" : "Previous profile with");
        l->set_xalign(0);
        l->set_hexpand(true);
        r->append(*l);
        dd->set_model(Strings(kModifierNames));
        Name(*dd, next ? "Next profile modifier" : "Previous profile modifier");
        dd->property_selected().signal_changed().connect([this, dd, next] {
            if (refreshing_) return;
            Edit(P() + (next ? " shift next" : " shift previous"),
                 {P(), "shift", next ? "next" : "previous", kModifierNames[dd->get_selected()]}, shiftError_);
        });
        r->append(*dd);
        shift->append(*r);
    }
    ErrorLabel(shiftError_);
    shift->append(shiftError_);
    lower->append(*shift);
    page->append(*lower);
    return *page;
}

Gtk::Widget& SettingsWindow::BuildProgKeysPage() {
    auto* page = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    page->set_margin(12);
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_child(progList_);
    scroll->set_min_content_width(300);
    Name(progList_, "Programmable keys");
    for (int k = 0; k < kProgKeyCount; ++k) {
        auto* b = Gtk::make_managed<Gtk::ToggleButton>();
        b->add_css_class("flat");
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        b->set_child(*label);
        Name(*b, ProgKeyName(k));
        if (k > 0) b->set_group(*progButtons_[0]);
        b->signal_toggled().connect([this, b, k] {
            if (b->get_active() && !refreshing_) ChooseProgKey(k);
        });
        progList_.append(*b);
        progButtons_.push_back(b);
        progRowLabels_.push_back(label);
    }
    page->append(*scroll);

    // The action area of the chosen key.
    auto* panel = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    panel->set_hexpand(true);
    progTitle_.set_xalign(0);
    progTitle_.add_css_class("title-3");
    panel->append(progTitle_);
    auto* actions = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    for (auto* b : {&actionNone_, &actionKey_, &actionMacro_, &actionLaunch_}) {
        if (b != &actionNone_) b->set_group(actionNone_);
        actions->append(*b);
    }
    panel->append(*actions);
    const auto action = [this](std::vector<std::string> what) {
        std::vector<std::string> words = {P(), ProgKeyName(progKey_)};
        words.insert(words.end(), what.begin(), what.end());
        Edit(P() + " " + ProgKeyName(progKey_) + " action", words, actionError_);
    };
    actionNone_.signal_toggled().connect([this, action] {
        if (!refreshing_ && actionNone_.get_active()) action({"none"});
    });
    actionMacro_.signal_toggled().connect([this, action] {
        if (!refreshing_ && actionMacro_.get_active()) action({"macro"});
    });
    actionKey_.signal_toggled().connect([this, action] {
        if (!refreshing_ && actionKey_.get_active() && !actionKeyEntry_.get_text().empty())
            action({"key", actionKeyEntry_.get_text()});
    });
    actionLaunch_.signal_toggled().connect([this, action] {
        if (!refreshing_ && actionLaunch_.get_active() && !launchEntry_.get_text().empty())
            action({"launch", launchEntry_.get_text()});
    });

    const auto field = [panel](const std::string& text, Gtk::Widget& w) {
        auto* r = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
        auto* l = Gtk::make_managed<Gtk::Label>(text);
        l->set_size_request(150, -1);
        l->set_xalign(0);
        r->append(*l);
        w.set_hexpand(true);
        r->append(w);
        panel->append(*r);
        return r;
    };
    field("Key it sends", actionKeyEntry_);
    Name(actionKeyEntry_, "Key it sends");
    actionKeyEntry_.signal_activate().connect([this, action] {
        refreshing_ = true;
        actionKey_.set_active(true);
        refreshing_ = false;
        action({"key", actionKeyEntry_.get_text()});
    });
    auto* launchRow = field("Launch path", launchEntry_);
    Name(launchEntry_, "Launch path");
    launchEntry_.signal_activate().connect([this, action] {
        refreshing_ = true;
        actionLaunch_.set_active(true);
        refreshing_ = false;
        action({"launch", launchEntry_.get_text()});
    });
    launchRow->append(launchFile_);
    launchRow->append(launchApp_);
    launchFile_.signal_clicked().connect([this] { ChooseLaunchFile(); });
    launchApp_.signal_clicked().connect([this] { ChooseLaunchApplication(); });
    ErrorLabel(actionError_);
    panel->append(actionError_);

    Heading(*panel, "Macro");
    auto* nameRow = field("Name", macroName_);
    Name(macroName_, "Macro name");
    macroName_.signal_activate().connect([this] {
        Edit(P() + " " + ProgKeyName(progKey_) + " name", {P(), ProgKeyName(progKey_), "name", macroName_.get_text()},
             nameError_);
    });
    repeat_.set_model(Strings({"1", "2", "3"}));
    Name(repeat_, "Repeat option");
    nameRow->append(*Gtk::make_managed<Gtk::Label>("Repeat option"));
    nameRow->append(repeat_);
    repeat_.property_selected().signal_changed().connect([this] {
        if (refreshing_) return;
        Edit(P() + " " + ProgKeyName(progKey_) + " repeat",
             {P(), ProgKeyName(progKey_), "repeat", std::to_string(repeat_.get_selected() + 1)}, nameError_);
    });
    ErrorLabel(nameError_);
    panel->append(nameError_);
    macroSteps_.set_editable(false);
    macroSteps_.set_monospace(true);
    Name(macroSteps_, "Macro steps");
    auto* steps = Gtk::make_managed<Gtk::ScrolledWindow>();
    steps->set_child(macroSteps_);
    steps->set_min_content_height(140);
    steps->set_vexpand(true);
    panel->append(*steps);
    // The macro editor opens from here.
    Name(macroEdit_, "Edit macro");
    macroEdit_.set_halign(Gtk::Align::START);
    macroEdit_.signal_clicked().connect([this] { OpenMacroWindow(); });
    panel->append(macroEdit_);

    auto* label = Gtk::make_managed<Gtk::Label>("Placed on");
    label->set_size_request(150, -1);
    label->set_xalign(0);
    placedBox_.append(*label);
    placedOn_.set_hexpand(true);
    placedOn_.set_placeholder_text("a key of the keyboard, or none");
    Name(placedOn_, "Placed on");
    placedBox_.append(placedOn_);
    placedOn_.signal_activate().connect([this] {
        Edit(P() + " " + ProgKeyName(progKey_) + " on", {P(), ProgKeyName(progKey_), "on", placedOn_.get_text()},
             placedError_);
    });
    panel->append(placedBox_);
    ErrorLabel(placedError_);
    panel->append(placedError_);
    page->append(*panel);
    return *page;
}

Gtk::Widget& SettingsWindow::BuildLightingPage() {
    auto* page = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    page->set_margin(12);
    Heading(*page, "Lighting (all profiles)");
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    row->append(*Gtk::make_managed<Gtk::Label>("Light style (0-4)"));
    const SettingEntry& style = Setting(SettingDict::Light, "LIGHT_STYLE");
    std::vector<std::string> styles;
    for (uint32_t s = 0; s <= style.max; ++s) styles.push_back(std::to_string(s));
    lightStyle_.set_model(Strings(styles));
    Name(lightStyle_, "Light style");
    lightStyle_.property_selected().signal_changed().connect([this] {
        if (!refreshing_)
            Edit("light style", {"light", "style", std::to_string(lightStyle_.get_selected())}, lightError_);
    });
    row->append(lightStyle_);
    // The on-screen display's picture for the style, as the keyboard's lighting key shows it.
    Name(lightPreview_, "Show the light style on screen");
    lightPreview_.signal_clicked().connect([this] {
        if (!client_ || !daemonRunning_) {
            ShowError(result_, "The on-screen display needs qz5d running.");
            return;
        }
        const uint32_t style = IntegerField(&model_->Shown().LIGHT_OPTION, Setting(SettingDict::Light, "LIGHT_STYLE"));
        auto info = ChangeOfWords({"osd", std::to_string(qz5::kStateLight0 + std::min<uint32_t>(style, 4))});
        client_->PostAndFollow(
            *info,
            [this](const ChangeOutcome& o) {
                ShowError(result_, o.kind == ChangeOutcome::Done ? "Shown on screen." : o.message + ".");
            },
            false, kChangeTimeoutMs);
    });
    row->append(lightPreview_);
    page->append(*row);
    for (const auto& zone : kZoneNames) {
        auto* b = Gtk::make_managed<Gtk::CheckButton>("Zone " + zone + " lit");
        b->signal_toggled().connect([this, b, zone] {
            if (!refreshing_) Edit("light " + zone, {"light", zone, b->get_active() ? "on" : "off"}, lightError_);
        });
        page->append(*b);
        zones_.push_back(b);
    }
    ErrorLabel(lightError_);
    page->append(lightError_);
    Heading(*page, "Game mode");
    auto* g = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    g->append(*Gtk::make_managed<Gtk::Label>("Game mode on"));
    Name(game_, "Game mode");
    game_.property_active().signal_changed().connect([this] {
        if (!refreshing_) Edit("game", {"game", game_.get_active() ? "on" : "off"}, lightError_);
    });
    g->append(game_);
    page->append(*g);
    return *page;
}

Gtk::Widget& SettingsWindow::BuildFooter() {
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    box->set_margin(12);
    pendingLabel_.set_xalign(0);
    pendingLabel_.set_wrap(true);
    Name(pendingLabel_, "Changes not applied");
    box->append(pendingLabel_);
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    result_.set_xalign(0);
    result_.set_hexpand(true);
    result_.set_wrap(true);
    Name(result_, "Result");
    row->append(result_);
    auto* spacer = Gtk::make_managed<Gtk::Box>();
    spacer->set_hexpand(true);
    row->append(*spacer);
    progress_.set_visible(false);
    progress_.set_valign(Gtk::Align::CENTER);
    row->append(progress_);
    row->append(revert_);
    row->append(apply_);
    applySave_.add_css_class("suggested-action");
    row->append(applySave_);
    box->append(*row);
    revert_.signal_clicked().connect([this] { Revert(); });
    apply_.signal_clicked().connect([this] { Apply(false); });
    applySave_.signal_clicked().connect([this] { Apply(true); });
    return *box;
}

void SettingsWindow::FollowDaemon() {
    if (!client_) return;
    daemonRunning_ = client_->DaemonRunning();
    client_->OnStatus([this](const DeviceStatus& s) {
        const bool first = !statusKnown_;
        statusKnown_ = true;
        status_ = s;
        if (first) ShowProfile(std::clamp(s.profile, 0, 2));
        RefreshStatus();
    });
    client_->OnRelay([this](const Relay& r) {
        statusKnown_ = true;
        if (r.what == Relay::Profile) {
            status_.profile = r.value;
            ShowProfile(std::clamp(r.value, 0, 2));
        }
        if (r.what == Relay::GameMode) gameMode_ = r.value;
        if (r.what == Relay::Light) status_.lightLevel = r.value;
        RefreshStatus();
    });
    client_->OnDaemon([this](bool running) {
        daemonRunning_ = running;
        statusKnown_ = false;
        if (running) client_->AskStatus();
        RefreshStatus();
    });
    // Asked once; after that qz5d says when a keyboard arrives or leaves.
    if (daemonRunning_) client_->AskStatus();
}

void SettingsWindow::ShowProfile(int profile) {
    profile_ = profile;
    ShowError(keyError_, "");
    ShowError(actionError_, "");
    ShowError(nameError_, "");
    ShowError(placedError_, "");
    Refresh();
}

void SettingsWindow::Refresh() {
    refreshing_ = true;
    for (int p = 0; p < 3; ++p) profileButtons_[p].set_active(p == profile_);
    RefreshKeyboard();
    RefreshKeyPanel();
    RefreshProgKeys();
    RefreshProgKeyPanel();
    RefreshLighting();
    refreshing_ = false;
    RefreshPending();
    RefreshStatus();
}

void SettingsWindow::RefreshKeyboard() {
    const _QZ5_PROFILE& shown = model_->Shown().PROFILE[profile_];
    const _QZ5_PROFILE& saved = model_->Saved().PROFILE[profile_];
    for (int r = 0; r < kStdKeyRowsInUse; ++r) {
        auto* b = keyButtons_[r];
        const std::string own = KeyName(StdKeyInfo[r].vkey);
        const std::string produces = Produces(shown, r);
        static_cast<Gtk::Label*>(b->get_child())->set_text(CapText(produces));
        const bool remapped = shown.KEY[r] != 0 && shown.KEY[r] != StdKeyInfo[r].vkey + 1;
        remapped ? b->add_css_class("accent") : b->remove_css_class("accent");
        shown.KEY[r] != saved.KEY[r] ? b->add_css_class("warning") : b->remove_css_class("warning");
        Name(*b, own + " key");
        Describe(*b, remapped ? "produces " + produces : "produces itself");
        b->set_tooltip_text(remapped ? own + " → " + produces : own);
    }
}

void SettingsWindow::RefreshKeyPanel() {
    const bool chosen = layoutRow_ >= 0;
    keySearch_.set_sensitive(chosen);
    keyCapture_.set_sensitive(chosen);
    keyDefault_.set_sensitive(chosen);
    if (!chosen) {
        keyTitle_.set_text("Choose a key on the keyboard above to remap it");
        return;
    }
    const std::string own = KeyName(StdKeyInfo[layoutRow_].vkey);
    keyTitle_.set_text("Profile " + P() + ": the " + own + " key produces " +
                       Produces(model_->Shown().PROFILE[profile_], layoutRow_));
}

void SettingsWindow::RefreshProgKeys() {
    const _QZ5_PROFILE& p = model_->Shown().PROFILE[profile_];
    const _QZ5_PROFILE& saved = model_->Saved().PROFILE[profile_];
    for (int k = 0; k < kProgKeyCount; ++k) {
        // A key changed and not yet applied is marked as its cap is.
        const bool changed = std::memcmp(&ProgKey(p, k), &ProgKey(saved, k), sizeof(_TKEY_INFO)) != 0;
        changed ? progButtons_[k]->add_css_class("changed") : progButtons_[k]->remove_css_class("changed");
        progRowLabels_[k]->set_text(ProgKeyName(k) + ": " + ActionText(ProgKey(p, k)));
        Describe(*progButtons_[k], ActionText(ProgKey(p, k)));
        progButtons_[k]->set_active(k == progKey_);
    }
}

void SettingsWindow::RefreshProgKeyPanel() {
    const _TKEY_INFO& k = ProgKey(model_->Shown().PROFILE[profile_], progKey_);
    progTitle_.set_text("Profile " + P() + ", " + ProgKeyName(progKey_));
    actionNone_.set_active(k.FUNCID == 0 || k.FUNCID > 3);
    actionKey_.set_active(k.FUNCID == 1);
    actionMacro_.set_active(k.FUNCID == 2);
    actionLaunch_.set_active(k.FUNCID == 3);
    actionKeyEntry_.set_text(k.FUNCID == 1 ? KeyName(k.SINGLE_KEYCODE) : "");
    launchEntry_.set_text(k.LAUNCHPATH);
    macroName_.set_text(k.MACRO.MACRONAME);
    repeat_.set_selected(std::clamp<uint32_t>(k.MACRO.REPEAT_OPTION, 1, 3) - 1);
    macroSteps_.get_buffer()->set_text(k.MACRO.LENGTH ? MacroText(k.MACRO) : "(no steps)");
    const bool mapping = progKey_ >= kTKeyCount;
    placedBox_.set_visible(mapping);
    placedError_.set_visible(mapping && !placedError_.get_text().empty());
    placedOn_.set_text(k.MAPKEY_KEYCODE ? KeyName(k.MAPKEY_KEYCODE - 1) : "none");
}

void SettingsWindow::RefreshLighting() {
    const _QZ5_CONFIG& rec = model_->Shown();
    lightStyle_.set_selected(IntegerField(&rec.LIGHT_OPTION, Setting(SettingDict::Light, "LIGHT_STYLE")));
    size_t z = 0;
    for (const SettingEntry& e : SettingEntries(SettingDict::Light))
        if (e.max == 1 && z < zones_.size()) zones_[z++]->set_active(IntegerField(&rec.LIGHT_OPTION, e) != 0);
    game_.set_active(rec.GAME_MODE != 0);
    const _INSTANT_SHIFT& shift = rec.PROFILE[profile_].INSTANT_SHIFT;
    shiftPrevious_.set_selected(std::min<uint32_t>(shift.PREKEY, 3));
    shiftNext_.set_selected(std::min<uint32_t>(shift.NEXTKEY, 3));
}

void SettingsWindow::RefreshPending() {
    const auto& pending = model_->PendingChanges();
    std::string text;
    for (const auto& p : pending) text += (text.empty() ? "" : "; ") + p.description;
    std::string unsent;
    for (const auto& words : unsent_) {
        std::string w;
        for (const auto& word : words) w += (w.empty() ? "" : " ") + word;
        unsent += (unsent.empty() ? "" : ", ") + w;
    }
    if (!unsent.empty()) unsent = " Written but not sent to the keyboard: " + unsent + ".";
    pendingLabel_.set_text((pending.empty() ? "No changes waiting." : std::to_string(pending.size()) + " change" +
                                                                         (pending.size() == 1 ? "" : "s") +
                                                                         " not applied: " + text) +
                           unsent);
    const bool busy = !posts_.empty();
    revert_.set_sensitive(!pending.empty() && !busy);
    apply_.set_sensitive((!pending.empty() || !unsent_.empty()) && !busy);
    applySave_.set_sensitive(!busy);
}

void SettingsWindow::RefreshStatus() {
    std::string text;
    if (!client_) {
        text = "No session bus (" + busProblem_ + "): changes are written to the settings file only.";
    } else if (!daemonRunning_) {
        text = "qz5d is not running on this session bus: start it (systemctl --user start qz5d, or the "
               "system unit qz5d.service). Editing still works: Apply writes the settings file, and the "
               "keyboard gets it once qz5d runs and you apply again.";
    } else if (!statusKnown_) {
        text = "qz5d is running; asking it for the keyboard's status…";
    } else if (!status_.present) {
        text = "No keyboard attached (qz5d is running). Changes are written to the file; plug the keyboard in "
               "and apply to send them.";
    } else {
        text = "Keyboard present · profile " + std::to_string(status_.profile + 1) + " · light level " +
               std::to_string(status_.lightLevel) +
               (gameMode_ < 0 ? "" : gameMode_ ? " · game mode on" : " · game mode off");
    }
    statusLabel_.set_text(text);
}

bool SettingsWindow::Edit(const std::string& slot, const std::vector<std::string>& words, Gtk::Label& error) {
    auto done = model_->Set(slot, words);
    ShowError(error, done ? "" : done.error());
    if (done) {
        ShowError(result_, "");
        Refresh();
    }
    return done.ok();
}

void SettingsWindow::ChooseLayoutKey(int row) {
    layoutRow_ = row;
    ShowError(keyError_, "");
    keySearch_.set_text("");
    RefreshKeyPanel();
    if (row >= 0) keySearch_.grab_focus();
}

void SettingsWindow::ChooseProgKey(int index) {
    progKey_ = index;
    ShowError(actionError_, "");
    ShowError(nameError_, "");
    ShowError(placedError_, "");
    refreshing_ = true;
    RefreshProgKeyPanel();
    refreshing_ = false;
}

void SettingsWindow::CaptureKey() {
    capturing_ = true;
    keyCapture_.set_label("Press a key now…");
}

void SettingsWindow::OpenMacroWindow() {
    const int p = profile_, k = progKey_;
    MacroEditor::Open(*this, model_->Shown().PROFILE[p], p, k, [this, p, k](const MacroSteps& macro) {
        auto m = std::make_shared<MacroSteps>(macro);
        const std::string slot = std::to_string(p + 1) + " " + ProgKeyName(k);
        model_->SetEdit(slot + " steps", slot + " macro, " + std::to_string(m->Records()) + " steps",
                        {[m, p, k](_QZ5_CONFIG& rec) { m->PutInto(rec.PROFILE[p], k); }, p, {}});
        Refresh();
    });
}

void SettingsWindow::ChooseLaunchFile() {
    auto chooser = Gtk::FileChooserNative::create("Launch path of " + ProgKeyName(progKey_), *this,
                                                  Gtk::FileChooser::Action::OPEN, "Choose", "Cancel");
    chooser->signal_response().connect([this, chooser](int response) {
        if (response == static_cast<int>(Gtk::ResponseType::ACCEPT) && chooser->get_file()) {
            launchEntry_.set_text(chooser->get_file()->get_path());
            launchEntry_.activate();
        }
    });
    chooser->show();
}

void SettingsWindow::ChooseLaunchApplication() {
    // Any application: a launch key starts it with no file.
    auto* dialog = new Gtk::AppChooserDialog("application/x-executable");
    if (auto* chooser = dynamic_cast<Gtk::AppChooserWidget*>(dialog->get_widget())) chooser->set_show_all(true);
    dialog->set_transient_for(*this);
    dialog->set_modal(true);
    dialog->set_heading("An application for " + ProgKeyName(progKey_) + " to start");
    dialog->signal_response().connect([this, dialog](int response) {
        if (response == static_cast<int>(Gtk::ResponseType::OK)) {
            if (auto info = dialog->get_app_info()) {
                if (const char* id = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(info->gobj()))) {
                    launchEntry_.set_text(id);
                    launchEntry_.activate();
                }
            }
        }
        Glib::signal_idle().connect_once([dialog] { delete dialog; });
    });
    dialog->present();
}

void SettingsWindow::Revert() {
    if (auto loaded = model_->Reload(); !loaded) ShowError(result_, loaded.error());
    else ShowError(result_, "Reverted to what the settings file says.");
    Refresh();
}

void SettingsWindow::Apply(bool save) {
    auto posts = model_->Apply(save);
    if (!posts) {
        ShowError(result_, posts.error());
        return;
    }
    // What an earlier Apply wrote but could not send goes first.
    std::vector<std::vector<std::string>> all = std::move(unsent_);
    unsent_.clear();
    for (auto& words : *posts)
        if (std::find(all.begin(), all.end(), words) == all.end()) all.push_back(std::move(words));
    if (!client_ || !daemonRunning_) {
        unsent_ = std::move(all);
        Refresh();
        ShowError(result_, "Written to " + model_->Path() + ". qz5d is not running: once it runs, Apply sends it "
                           "to the keyboard.");
        return;
    }
    posts_ = std::move(all);
    Refresh();
    PostNext();
}

void SettingsWindow::PostNext() {
    if (posts_.empty()) return;
    const std::vector<std::string> words = posts_.front();
    auto info = ChangeOfWords(words);
    if (!info) {  // the model's words are the change commands': not expected
        ShowError(result_, info.error());
        posts_.clear();
        RefreshPending();
        return;
    }
    std::string what = words[0] == "apply"    ? "Sending profile " + words[1] + " to the keyboard"
                       : words[0] == "select" ? "Selecting profile " + words[1]
                       : words[0] == "game"   ? "Turning game mode " + words[1]
                       : words[0] == "save"   ? "Saving the keyboard's settings"
                                              : "Sending the lighting";
    if (words.size() == 3) what += " and saving it";
    ShowError(result_, what + "…");
    progress_.set_fraction(0);
    progress_.set_visible(true);
    const double seconds = words[0] == "apply" ? kFullDownloadSeconds : 1.5;
    auto started = std::make_shared<gint64>(g_get_monotonic_time());
    progressTick_.disconnect();
    progressTick_ = Glib::signal_timeout().connect(
        [this, started, seconds] {
            const double t = (g_get_monotonic_time() - *started) / 1e6;
            progress_.set_fraction(std::min(0.95, t / seconds));
            return true;
        },
        100);
    RefreshPending();
    client_->PostAndFollow(
        *info,
        [this, what](const ChangeOutcome& o) {
            progressTick_.disconnect();
            progress_.set_visible(false);
            if (!posts_.empty()) {
                if (o.kind != ChangeOutcome::Done) unsent_.push_back(posts_.front());
                posts_.erase(posts_.begin());
            }
            if (o.kind != ChangeOutcome::Done) {
                unsent_.insert(unsent_.end(), posts_.begin(), posts_.end());
                posts_.clear();
                ShowError(result_, what + ": " + o.message + ".");
            } else {
                char took[64];
                std::snprintf(took, sizeof took, "%d request%s, %.1f s", o.requests, o.requests == 1 ? "" : "s",
                              o.milliseconds / 1000.0);
                ShowError(result_, what + ": done (" + took + ").");
            }
            RefreshPending();
            // The next post once this callback has returned.
            Glib::signal_idle().connect_once([this] { PostNext(); });
        },
        words[0] != "osd", kChangeTimeoutMs);
}
