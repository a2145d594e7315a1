// Every setting of a configuration record, one a line, each line the words
// `qz5ctl set` takes for it (for qz5ctl show and settings show), so that set
// given any line changes nothing. A setting the words cannot say as the
// record holds it is a # comment line.
#pragma once

#include <string>

#include "config/qz5_config.hpp"

std::string SettingsSummary(const _QZ5_CONFIG& rec);
