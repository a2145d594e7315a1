// The OSD's content: the picture for the last code (and an optional caption),
// and the countdown that closes the window. A code shown while the countdown
// runs resets the count on the running timer rather than starting a new one.
#pragma once

#include <optional>
#include <string>

#include "osd/osd_core.hpp"

struct OsdTextAttributes {
    std::string font = "Sans";
    double size = 75;
    double red = 1, green = 0, blue = 0, alpha = 1;
};

class ShowMsgView {
public:
    // The window-system side: a repeating timer on the main loop, redraws and
    // the window the view sits in.
    class Host {
    public:
        virtual ~Host() = default;
        // Calls view.timerPro() every intervalMs until stopTimer(id).
        virtual unsigned startRepeatingTimer(unsigned intervalMs, ShowMsgView& view) = 0;
        virtual void stopTimer(unsigned id) = 0;
        virtual void setNeedsDisplay() = 0;
        virtual void hideWindow() = 0;
    };

    // Where drawRect draws; the view's size is the window's content size.
    class Canvas {
    public:
        virtual ~Canvas() = default;
        virtual void clear() = 0;  // everything fully transparent
        virtual void drawStringCentered(const std::string& text, const OsdTextAttributes& attributes) = 0;
        // The picture at its own size, centred, copied at full opacity;
        // nothing when the resources have no such picture.
        virtual void drawPictureCentered(const std::string& name) = 0;
    };

    static constexpr unsigned kTickMs = 500;
    static constexpr int kTicksShown = 6;  // 3 s

    explicit ShowMsgView(Host& host);

    void setShowImgTag(int code);
    void timerPro();
    void closeViewPro();

    void drawRect(Canvas& canvas) const;
    void drawStringCenteredIn(Canvas& canvas) const;
    void drawImage(Canvas& canvas) const;

    bool isStop() const { return stop_; }
    void setStop(bool stop) { stop_ = stop; }
    int showImgTag() const { return showImgTag_; }
    int timeSetp() const { return timeSetp_; }
    const std::optional<std::string>& showStr() const { return showStr_; }
    void setShowStr(std::optional<std::string> text);
    const OsdTextAttributes& attributes() const { return attributes_; }

private:
    Host& host_;
    std::optional<std::string> showStr_;
    int showImgTag_ = kOsdNoImage;
    bool stop_ = true;
    int timeSetp_ = 3;
    unsigned timer_ = 0;
    const OsdPictureTable& imageArr_;
    OsdTextAttributes attributes_;
};
