// Preferences: construction, reload and the function-code table.
#include "keyboard/preferences.hpp"

#include "platform/log.hpp"

xmlconfig* m_pXMLconfig = nullptr;

Preferences::Preferences() {
    m_pXMLconfig = new xmlconfig();
    LogLine("m_pXMLconfig 加载 %s", "");
    xmlconfig::setConfigfileName(SettingsFilePath());
    m_pXMLconfig->LoadConfigFile();
}

Preferences::~Preferences() {
    LogLine("m_pXMLconfig Release %s", "");
    delete m_pXMLconfig;
    m_pXMLconfig = nullptr;
}

void Preferences::RefreshSetting() { m_pXMLconfig->LoadConfigFile(); }

uint32_t Preferences::GetDeviceFuncID(uint32_t funcId) {
    switch (funcId) {
        case 1: return 0x10;  // single key
        case 2: return 0x20;  // macro
        case 3: return 0x11;  // program launch
        default: return 0x00;  // none
    }
}
