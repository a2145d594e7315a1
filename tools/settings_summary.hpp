// Every setting of a configuration record, one a line, each line the words
// `qz5ctl set` takes for it (for qz5ctl show and settings show); what the
// words cannot say follows as a # comment.
#pragma once

#include <string>

#include "config/qz5_config.hpp"

std::string SettingsSummary(const _QZ5_CONFIG& rec);
