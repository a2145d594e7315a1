// Where the helper shows codes: a window, or a desktop notification.
#pragma once

class OsdPresenter {
public:
    virtual ~OsdPresenter() = default;
    // Shows the picture for code and (re)starts the three-second countdown.
    virtual void show(int code) = 0;
    virtual void hide() = 0;
};
