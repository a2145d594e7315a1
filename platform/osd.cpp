#include "platform/osd.hpp"

OsdDisplay& HelperProcessOsdDisplay();

namespace {
OsdDisplay* g_display = nullptr;
}

void SetOsdDisplay(OsdDisplay* display) { g_display = display; }

OsdDisplay& CurrentOsdDisplay() { return g_display ? *g_display : HelperProcessOsdDisplay(); }
