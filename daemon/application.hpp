// The daemon's singleton: waits for the console user, becomes that user,
// wires every event source to the main loop and ends in order.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "keyboard/preferences.hpp"
#include "platform/notifications.hpp"
#include "platform/udev.hpp"

class Application {
public:
    virtual ~Application();

    static Application* GetApp();

    // Login wait, user switch, input-system check, Init, main loop,
    // Terminate. Returns the process's exit status.
    int Run();
    // Connects to the session bus, listens (ListenForSettingsApp), claims the
    // daemon's name, then starts on the keyboard (StartDevices). Returns 0,
    // or the exit status when the daemon cannot serve this session.
    int Init();
    // Init without a bus of its own: ListenForSettingsApp and StartDevices on center.
    int WireUp(NotificationCenter& center);
    // The Preferences object (the settings loaded) and the two observers on center.
    int ListenForSettingsApp(NotificationCenter& center);
    // The hot-plug monitor, a keyboard already attached, the keyboard's reset.
    void StartDevices();
    void Terminate();
    // Reads the console session; refreshes m_uid and m_userName. True when a
    // user is logged in on the console.
    bool IsLoggedIn();
    // Watches the driver nodes m_myDriver00 and m_myDriver01 (each node
    // once) for the keyboard's messages, in place of earlier watches, and
    // marks the keyboard present.
    void RegisterForDeviceNotif();

    const std::string& GetMyDriver00() const { return m_myDriver00; }
    void SetMyDriver00(const std::string& driver) { m_myDriver00 = driver; }
    const std::string& GetMyDriver01() const { return m_myDriver01; }
    void SetMyDriver01(const std::string& driver) { m_myDriver01 = driver; }
    Preferences* GetPrefs() { return m_pPrefs; }
    void SetIsOnDev(bool on) { m_isOnDev = on; }
    bool GetIsOnDev() const { return m_isOnDev; }

private:
    Application() = default;
    // Environment for what runs as the user: the runtime folder and the
    // session bus. The display is looked up for every OSD code and launch
    // (platform/session_environment.hpp), as it may come and go.
    void PrepareUserEnvironment();

    static Application* sApp;

    uid_t m_uid = 0;
    std::string m_hidSystem;        // syspath of the first input device
    std::unique_ptr<UsbHotplugMonitor> m_notifyPort;  // the keyboard coming and going
    std::string m_userName;
    std::string m_myDriver00;       // the keyboard's driver nodes (first and last)
    std::string m_myDriver01;
    Preferences* m_pPrefs = nullptr;
    bool m_isOnDev = false;
    std::unique_ptr<SessionBusCenter> m_center;
    std::vector<std::unique_ptr<HidrawWatch>> m_driverWatches;
};

// The input system's first device; "" when there is none.
std::string FindHidSystem();

// The keyboard's USB device arrived (proves each can be opened, then, with a
// user logged in, registers its driver nodes and posts the status) or left.
void DeviceAddedNotifProc(const std::vector<UdevDevice>& devices);
void DeviceRemovedNotifProc(const std::vector<UdevDevice>& devices);
// A hidraw node of the keyboard appeared after the keyboard did: while the
// keyboard is marked present, its first and last nodes are looked up and
// watched again.
void DriverNodeAddedProc(const std::vector<UdevDevice>& nodes);
// Every hidraw node (the driver's services).
std::vector<UdevDevice> FindDevices();
// The first (first true) or last keyboard node, passing previous over
// unless nothing else matches; "" when none.
std::string FindMyDriver(const std::string& previous, bool first);
// One message from a driver node: type and eight bytes.
void DriverNotifProc(void* refCon, const std::string& service, uint32_t messageType, const uint8_t* argument);

// Notification callbacks: a settings change, a status request.
void QZ5SettingChangeNotifProc(NotificationCenter* center, void* observer, const std::string& name,
                               const std::string& object, const UserInfo& userInfo);
void QZ5GetDevStatueProc(NotificationCenter* center, void* observer, const std::string& name,
                         const std::string& object, const UserInfo& userInfo);
// Tells the settings application whether the keyboard is present, its
// profile and its light level.
void PostStautToAp();
