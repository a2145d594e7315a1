// The OSD controller: one display serves the whole process; each code replaces
// what it shows and resets its countdown.
#include "keyboard/preferences.hpp"
#include "platform/osd.hpp"

void Preferences::ShowMsgFrm(int code) { CurrentOsdDisplay().Show(code); }
