// The OSD as a desktop notification (org.freedesktop.Notifications), for
// sessions that offer no window the OSD could float in: the picture as the
// notification's image, marked transient, each code replacing the bubble of
// the one before, closed when the three-second countdown ends.
#pragma once

#include <gio/gio.h>

#include "osd/osd_painter.hpp"
#include "osd/osd_presenter.hpp"
#include "osd/show_msg_view.hpp"

class OsdNotification : public OsdPresenter, private ShowMsgView::Host {
public:
    explicit OsdNotification(GDBusConnection* bus);
    ~OsdNotification() override;
    OsdNotification(const OsdNotification&) = delete;
    OsdNotification& operator=(const OsdNotification&) = delete;

    void show(int code) override;
    void hide() override;

    // A notification server answers on bus (running, or started on demand).
    static bool Available(GDBusConnection* bus);

private:
    unsigned startRepeatingTimer(unsigned intervalMs, ShowMsgView& view) override;
    void stopTimer(unsigned id) override;
    void setNeedsDisplay() override;
    void hideWindow() override;
    static void Shown(GObject* source, GAsyncResult* result, gpointer self);

    GDBusConnection* bus_;
    guint32 id_ = 0;         // the bubble on screen, 0 when none
    bool inFlight_ = false;  // a Notify call awaits its reply
    bool pending_ = false;   // a code came meanwhile
    guint timer_ = 0;
    ShowMsgView view_;
    OsdPainter painter_;
};
