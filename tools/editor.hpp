// qz5ctl's settings editor: `set`, `show`, `macro export|import` and `keys`.
// Every edit locks the settings file, loads it as the daemon does, changes one
// thing and writes it back atomically with the daemon's writer, keeping the
// entries the record does not hold; with --apply it then asks a running qz5d
// to send the change to the keyboard.
#pragma once

#include <string>
#include <vector>

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
