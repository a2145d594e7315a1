// What the settings window edits, without the window: the settings file as
// the daemon reads it, the changes made in the window and not yet applied
// (each in the editing library's terms, so that its ranges and refusals are
// the ones qz5ctl has), and what applying them writes and posts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/qz5_config.hpp"
#include "editing/editor.hpp"
#include "platform/result.hpp"

class SettingsModel {
public:
    explicit SettingsModel(std::string path);

    const std::string& Path() const { return path_; }
    // Reads the file again and forgets the pending changes; the message when
    // the file cannot be read (the record then holds the factory defaults).
    Result<> Reload();
    // The file's settings with the pending changes made.
    const _QZ5_CONFIG& Shown() const { return *shown_; }
    // The file's settings as they are.
    const _QZ5_CONFIG& Saved() const { return *saved_; }

    // A change in the words of `qz5ctl set` (without "set"): it replaces any
    // pending change of the same slot (say "2 key CapsLock"). The refusal's
    // message when the words are refused; nothing changes then.
    Result<> Set(const std::string& slot, const std::vector<std::string>& words);
    // A change the words of set cannot say (a macro's steps): described for
    // the list of pending changes, made by edit on the record.
    void SetEdit(const std::string& slot, const std::string& description, SettingEdit edit);
    // Drops the pending change of slot, if any.
    void Drop(const std::string& slot);

    struct Pending {
        std::string slot, description;
        SettingEdit edit;
    };
    const std::vector<Pending>& PendingChanges() const { return pending_; }

    // Writes the pending changes into the file under the editing library's
    // lock, all or nothing. On success, the changes to post, in the words of
    // qz5ctl's change commands (profiles sent in full, with --save when save),
    // and the pending list is empty; on a refusal the file is as it was.
    Result<std::vector<std::vector<std::string>>> Apply(bool save);

private:
    void Recompute();
    std::string path_;
    std::unique_ptr<_QZ5_CONFIG> saved_, shown_;
    std::vector<Pending> pending_;
};
