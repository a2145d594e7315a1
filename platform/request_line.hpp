// The one-line text form of a USB control request, shared by everything that
// prints or logs requests: the 8 setup bytes as lowercase two-digit hex
// separated by spaces; for a host-to-device request with a data stage,
// " : " and the wLength data bytes as lowercase hex without separators.
// Example: "40 16 00 00 01 00 3f 00 : 1400010101..."
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// setup: the 8 setup bytes in wire order. data: the data stage (wLength bytes
// from the setup packet) for host-to-device requests; ignored otherwise.
std::string FormatRequestLine(const uint8_t setup[8], const uint8_t* data);
