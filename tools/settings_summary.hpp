// A readable summary of a configuration record, for qz5ctl settings show.
#pragma once

#include <string>

#include "config/qz5_config.hpp"

std::string SettingsSummary(const _QZ5_CONFIG& rec);
