#include "config/qz5_config.hpp"

_QZ5_CONFIG m_Config;
