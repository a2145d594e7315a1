// Readable names of macOS virtual key codes, for tools and log lines.
#pragma once

#include <cstdint>
#include <string>

// "A", "F1", "KeypadEnter" ...; "key 0x%02x" for a code without a name.
std::string MacKeyName(uint32_t vkey);
