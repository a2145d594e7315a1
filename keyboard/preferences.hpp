// Preferences: the daemon's one object for the user's settings and the
// keyboard. It carries no state of its own; what its methods work on lives at
// file scope beside it (the record m_Config and the settings reader).
#pragma once

#include <cstdint>

#include "config/qz5_config.hpp"
#include "config/xmlconfig.hpp"

class Preferences {
public:
    Preferences();
    virtual ~Preferences();
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // Reloads the settings file into m_Config (factory defaults when it cannot be read).
    void RefreshSetting();

    // The keyboard's function code of a FUNCID.
    uint32_t GetDeviceFuncID(uint32_t funcId);
};

// The settings reader and writer, created with Preferences and released with it.
extern xmlconfig* m_pXMLconfig;
