#include "app/settings_model.hpp"

#include <algorithm>
#include <cstring>

#include "config/xmlconfig.hpp"

SettingsModel::SettingsModel(std::string path)
    : path_(std::move(path)), saved_(std::make_unique<_QZ5_CONFIG>()), shown_(std::make_unique<_QZ5_CONFIG>()) {
    std::memset(saved_.get(), 0, sizeof *saved_);
}

Result<> SettingsModel::Reload() {
    pending_.clear();
    auto loaded = LoadSettingsFile(path_);
    Result<> outcome;
    if (loaded) {
        saved_ = std::move(*loaded);
    } else {
        InitialConfigInto(*saved_);
        outcome = Result<>::Fail(loaded.error());
    }
    Recompute();
    return outcome;
}

void SettingsModel::Recompute() {
    std::memcpy(shown_.get(), saved_.get(), sizeof *shown_);
    for (const auto& p : pending_) p.edit.edit(*shown_);
}

Result<> SettingsModel::Set(const std::string& slot, const std::vector<std::string>& words) {
    std::vector<std::string> set = {"set"};
    set.insert(set.end(), words.begin(), words.end());
    auto edit = ParseSettingWords(set);
    if (!edit) return Result<>::Fail(edit.error());
    std::string description;
    for (const auto& w : words) description += (description.empty() ? "" : " ") + w;
    SetEdit(slot, description, std::move(*edit));
    return {};
}

void SettingsModel::SetEdit(const std::string& slot, const std::string& description, SettingEdit edit) {
    const auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.slot == slot; });
    if (it != pending_.end())
        *it = {slot, description, std::move(edit)};
    else
        pending_.push_back({slot, description, std::move(edit)});
    Recompute();
}

void SettingsModel::Drop(const std::string& slot) {
    std::erase_if(pending_, [&](const Pending& p) { return p.slot == slot; });
    Recompute();
}

Result<std::vector<std::vector<std::string>>> SettingsModel::Apply(bool save) {
    using R = Result<std::vector<std::vector<std::string>>>;
    const auto written = EditSettingsFile(path_, [this](_QZ5_CONFIG& rec) -> Result<> {
        for (const auto& p : pending_) p.edit.edit(rec);
        return {};
    });
    if (!written) return R::Fail(written.error());
    // Each profile once, sent in full; then lighting, game mode and the
    // profile selection, so that the keyboard ends on the selected profile.
    std::vector<std::vector<std::string>> posts;
    const auto add = [&posts](std::vector<std::string> words) {
        if (std::find(posts.begin(), posts.end(), words) == posts.end()) posts.push_back(std::move(words));
    };
    for (const auto& p : pending_)
        if (p.edit.profile >= 0) add({"apply", std::to_string(p.edit.profile + 1)});
    for (const auto& p : pending_)
        if (p.edit.profile < 0 && !p.edit.apply.empty() && p.edit.apply[0] != "select") add(p.edit.apply);
    for (const auto& p : pending_)
        if (!p.edit.apply.empty() && p.edit.apply[0] == "select") add(p.edit.apply);
    if (save) {
        for (auto& words : posts)
            if (words[0] == "apply") words.push_back("--save");
        if (std::none_of(posts.begin(), posts.end(), [](const auto& w) { return w[0] == "apply"; }))
            posts.push_back({"save"});
    }
    auto reloaded = LoadSettingsFile(path_);
    if (reloaded) saved_ = std::move(*reloaded);
    pending_.clear();
    Recompute();
    return posts;
}
