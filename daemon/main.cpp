// qz5d: loads the user's settings into the configuration record. The event
// loop, the login wait and the keyboard link are built on top of this.
#include "keyboard/preferences.hpp"

int main() {
    Preferences prefs;
    return 0;
}
