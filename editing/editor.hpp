// qz5ctl's settings editor: `set`, `show`, `macro export|import` and `keys`.
// Every edit locks the settings file, loads it as the daemon does, changes one
// thing and writes it back atomically with the daemon's writer, keeping the
// entries the record does not hold; with --apply it then asks a running qz5d
// to send the change to the keyboard.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/qz5_config.hpp"
#include "platform/result.hpp"

// For a settings application: the settings in path as the daemon reads them
// (the factory defaults when the file does not exist or is empty).
Result<std::unique_ptr<_QZ5_CONFIG>> LoadSettingsFile(const std::string& path);
// Under the edit lock, loads path, lets change edit the record and writes it
// back atomically with the daemon's writer, keeping the entries the record
// does not hold. A failed Result from change refuses the edit with its
// message, as does a profile whose actions would no longer fit the keyboard's
// macro memory; either way the file is left as it was. On success, the notes
// about the file (say, that it did not exist yet).
Result<std::vector<std::string>> EditSettingsFile(const std::string& path,
                                                  const std::function<Result<>(_QZ5_CONFIG&)>& change);

// One edit in the words of `qz5ctl set` ({"set", "2", "key", "caps", "esc"}):
// what it does to a record, the profile whose keys it changes (-1 for none)
// and the qz5ctl bus command that sends it to the keyboard ({"apply", "2",
// "--save"}, {"lighting"}, {"game", "on"}, {"select", "2"}).
struct SettingEdit {
    std::function<void(_QZ5_CONFIG&)> edit;
    int profile = -1;
    std::vector<std::string> apply;
};
// The edit the words make, or the one-line refusal qz5ctl would print.
Result<SettingEdit> ParseSettingWords(const std::vector<std::string>& words);

// Whether the command of args (its first word after any --file FILE and
// --apply) is one of these.
bool IsEditorCommand(const std::vector<std::string>& args);
// Runs it; returns the exit status: 0 done, 2 a refused edit or a usage error
// (the file untouched), 1 a failure to read, lock, write or apply.
int RunEditorCommand(const std::vector<std::string>& args);

extern const char* const kEditorUsage;

// How --apply reaches a running qz5d: given the words of the change command
// (as `qz5ctl apply 2 --save` takes them), it returns that command's exit
// status. qz5ctl gives its bus commands; without one, --apply fails.
using EditorApply = int (*)(const std::vector<std::string>& command);
void SetEditorApply(EditorApply apply);

// Why text cannot be a name or path of the settings file (what names it for
// the message), or empty when it can.
std::string TextRefusal(const std::string& text, const std::string& what);

// The bytes of the keyboard's macro memory a profile's actions take; with a
// key index (0-19) as macroKey, that key counted as playing its macro.
uint32_t ProfileMacroMemoryUse(const _QZ5_PROFILE& profile, int macroKey = -1);
// The refusal of an edit after which profile's (0-2) keys would take use
// bytes, more than the macro memory holds.
std::string MacroMemoryRefusal(int profile, uint32_t use);
