// The on-screen display as the daemon sees it: somewhere to send OSD codes.
// The real one feeds the qz5-osd helper process (GTK) one code per line; the
// daemon itself never links GTK, so a display that goes away cannot take it down.
#pragma once

#include <vector>

class OsdDisplay {
public:
    virtual ~OsdDisplay() = default;
    // Shows the picture for code (or nothing visible, for a code without one)
    // and (re)starts the three-second countdown. Never blocks for long and
    // never fails as seen by the caller: problems are logged.
    virtual void Show(int code) = 0;
    // Gets ready to show codes, where that takes long (the helper process
    // starts), so that the first code shows as fast as later ones.
    virtual void Prepare() {}
};

// qz5-osd's exit status when it finds no display to open.
inline constexpr int kOsdNoDisplayStatus = 3;

// The display ShowMsgFrm uses; nullptr restores the helper-process display.
void SetOsdDisplay(OsdDisplay* display);
OsdDisplay& CurrentOsdDisplay();

