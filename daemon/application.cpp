// The singleton: start, login wait, user switch, wiring, end.
#include "daemon/application.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "config/build_config.hpp"
#include "platform/log.hpp"
#include "platform/main_loop.hpp"
#include "platform/osd.hpp"
#include "platform/scheduler.hpp"
#include "platform/session.hpp"
#include "platform/udev.hpp"
#include "platform/user.hpp"
#include "protocol/vocabulary.hpp"

namespace {

constexpr int kLoggedIn = -1;  // the login wait's loop ends with this when a user is on the console

void BusLost(const char* why) {
    LogLine("%s; qz5d stops", why);
    QuitMainLoop(1);
}

}  // namespace

Application* Application::sApp = nullptr;

Application::~Application() = default;

Application* Application::GetApp() {
    if (!sApp) sApp = new Application();
    return sApp;
}

bool Application::IsLoggedIn() {
    ConsoleSession session;
    if (!CurrentSessionReader()(session)) {
        LogLine("Unable to get session dictionary.");
        return false;
    }
    if (!session.loginDone) return false;
    m_userName = session.userName;
    m_uid = session.uid;
    return session.onConsole;
}

int Application::Run() {
    InstallQuitSignals();
    if (!IsLoggedIn()) {
        AddMainLoopTimeout(1000, [this] {
            if (!IsLoggedIn()) return true;
            QuitMainLoop(kLoggedIn);
            return false;
        });
        if (RunMainLoop() != kLoggedIn) return 0;  // told to stop while waiting
    }
    LogLine("console user %s (uid %u) logged in", m_userName.c_str(), static_cast<unsigned>(m_uid));

    std::string error, note;
    const uid_t target = m_uid != 0 ? m_uid : getuid();
    if (!SwitchToUser(target, error, note)) {
        LogLine("cannot become uid %u (%s): %s; qz5d stops rather than run on as root",
                static_cast<unsigned>(target), m_userName.c_str(), error.c_str());
        return 1;
    }
    if (!note.empty()) LogLine("%s", note.c_str());
    PrepareUserEnvironment();

    m_hidSystem = FindHidSystem();
    if (m_hidSystem.empty()) return 0;

    // The keyboard's requests and their pauses run on the main loop.
    const std::unique_ptr<Scheduler> scheduler = MakeMainLoopScheduler();
    SetKeyboardScheduler(scheduler.get());
    int status = Init();
    if (status == 0) {
        // The OSD helper takes most of a second to start: it does so now,
        // while the keyboard is reset, rather than at the first code.
        CurrentOsdDisplay().Prepare();
        status = RunMainLoop();
    }
    if (KeyboardQueue().Pending() > 0) {
        // A download stopped midway would leave the keyboard half-written.
        LogLine("qz5d ends once the keyboard has the work queued for it (signal again to end at once)");
        KeyboardQueue().WhenIdle([] { QuitMainLoop(0); });
        RunMainLoop();
    }
    Terminate();
    SetKeyboardScheduler(nullptr);
    return status;
}

void Application::PrepareUserEnvironment() {
    const std::string uid = std::to_string(getuid());
    setenv("XDG_RUNTIME_DIR", ("/run/user/" + uid).c_str(), 0);
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus)
        setenv("DBUS_SESSION_BUS_ADDRESS",
               (std::string("unix:path=") + std::getenv("XDG_RUNTIME_DIR") + "/bus").c_str(), 1);
}

int Application::Init() {
    std::string error;
    m_center = SessionBusCenter::Connect(error);
    if (!m_center) {
        LogLine("%s; qz5d stops", error.c_str());
        return 1;
    }
    // The name tells clients that posts are heard: it is claimed only once
    // the settings are loaded and the observers' match rules are in place.
    // A second daemon ends here, before it touches the keyboard.
    if (const int status = ListenForSettingsApp(*m_center); status != 0) return status;
    if (!m_center->ClaimDaemonName(error)) {
        LogLine("another qz5d already runs on this session bus (%s)", error.c_str());
        return 1;
    }
    m_center->OnLost(&BusLost);
    StartDevices();
    return 0;
}

int Application::WireUp(NotificationCenter& center) {
    if (const int status = ListenForSettingsApp(center); status != 0) return status;
    StartDevices();
    return 0;
}

int Application::ListenForSettingsApp(NotificationCenter& center) {
    m_pPrefs = new Preferences();
    m_isOnDev = false;
    SetNotificationCenter(&center);
    if (!center.AddObserver(nullptr, &QZ5SettingChangeNotifProc, qz5::kNameSettings, qz5::kSettingChange) ||
        !center.AddObserver(nullptr, &QZ5GetDevStatueProc, qz5::kNameCheck, qz5::kGetDeviceStatue))
        return 1;
    return 0;
}

void Application::StartDevices() {
    // A keyboard already attached is handled now, so that its status reply
    // goes out before the reset.
    std::string error;
    m_notifyPort = UsbHotplugMonitor::Start(kQz5UsbVendorId, kQz5UsbProductId, &DeviceAddedNotifProc,
                                            &DeviceRemovedNotifProc, &DriverNodeAddedProc, error);
    if (!m_notifyPort) LogLine("%s: the keyboard's arrival will go unnoticed", error.c_str());
    std::vector<UdevDevice> attached = EnumerateUsbDevices(kQz5UsbVendorId, kQz5UsbProductId, error);
    if (!error.empty()) LogLine("%s", error.c_str());
    if (m_notifyPort)
        for (const auto& d : attached) m_notifyPort->Know(d);
    DeviceAddedNotifProc(attached);
    DeviceRemovedNotifProc({});
    m_pPrefs->ResetDevice();
}

void Application::RegisterForDeviceNotif() {
    m_isOnDev = true;
    m_driverWatches.clear();  // an earlier arrival's nodes
    for (const std::string* driver : {&m_myDriver00, &m_myDriver01}) {
        if (driver == &m_myDriver01 && m_myDriver01 == m_myDriver00) break;  // one node: watched once
        std::string error;
        int errorNumber = ENODEV;
        auto watch = driver->empty() ? nullptr : HidrawWatch::Open(*driver, &DriverNotifProc, error, errorNumber);
        if (!watch) {
            PrintIOErrMsg(-errorNumber, "Error registering driver notif proc.");
            if (errorNumber == EACCES || errorNumber == EPERM)
                LogLine("%s: the keyboard's hidraw nodes are not this user's to read; is the udev rule "
                        "70-qz5.rules installed?", error.c_str());
            continue;
        }
        LogLine("listening to the keyboard at %s", driver->c_str());
        m_driverWatches.push_back(std::move(watch));
    }
}

void Application::Terminate() {
    if (KeyboardQueue().Pending() > 0) LogLine("qz5d ends with work for the keyboard still queued; it is dropped");
    KeyboardQueue().Clear();
    m_driverWatches.clear();
    m_notifyPort.reset();
    delete m_pPrefs;
    m_pPrefs = nullptr;
    SetNotificationCenter(nullptr);
    m_center.reset();
}

std::string FindHidSystem() {
    std::string error;
    std::string device = FirstInputDevice(error);
    if (!error.empty()) {
        PrintErrMsg(1, "No matching HID class devices found.");
        LogLine("input devices cannot be listed: %s", error.c_str());
    } else if (device.empty()) {
        LogLine("no input device on this system; qz5d has nothing to serve and ends");
    }
    return device;
}
