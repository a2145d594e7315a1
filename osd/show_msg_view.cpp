#include "osd/show_msg_view.hpp"

ShowMsgView::ShowMsgView(Host& host) : host_(host), imageArr_(OsdPictureTableByKey()) {}

void ShowMsgView::setShowImgTag(int code) {
    showImgTag_ = code;
    timeSetp_ = kTicksShown;
    if (stop_) {
        timer_ = host_.startRepeatingTimer(kTickMs, *this);
        stop_ = false;
    }
    host_.setNeedsDisplay();
}

void ShowMsgView::timerPro() {
    timeSetp_ -= 1;
    if (timeSetp_ != 0) return;
    closeViewPro();
    host_.stopTimer(timer_);
    timer_ = 0;
    stop_ = true;
}

void ShowMsgView::closeViewPro() { host_.hideWindow(); }

void ShowMsgView::setShowStr(std::optional<std::string> text) {
    showStr_ = std::move(text);
    host_.setNeedsDisplay();
}

void ShowMsgView::drawRect(Canvas& canvas) const {
    canvas.clear();
    drawStringCenteredIn(canvas);
    drawImage(canvas);
}

void ShowMsgView::drawStringCenteredIn(Canvas& canvas) const {
    if (showStr_) canvas.drawStringCentered(*showStr_, attributes_);
}

void ShowMsgView::drawImage(Canvas& canvas) const {
    if (showImgTag_ == kOsdNoImage) return;
    const auto entry = imageArr_.find(OsdPictureKey(showImgTag_));
    if (entry == imageArr_.end()) return;
    canvas.drawPictureCentered(entry->second);
}
