#include "platform/udev.hpp"

#include <libudev.h>

#include <cerrno>
#include <cstring>

std::string FirstInputDevice(std::string& error) {
    error.clear();
    udev* ctx = udev_new();
    if (!ctx) {
        error = "cannot create a udev context";
        return "";
    }
    std::string found;
    udev_enumerate* e = udev_enumerate_new(ctx);
    int rc = e ? udev_enumerate_add_match_subsystem(e, "input") : -ENOMEM;
    if (rc >= 0) rc = udev_enumerate_scan_devices(e);
    if (rc < 0) {
        error = std::string("udev enumeration failed: ") + std::strerror(-rc);
    } else if (udev_list_entry* first = udev_enumerate_get_list_entry(e)) {
        found = udev_list_entry_get_name(first);
    }
    if (e) udev_enumerate_unref(e);
    udev_unref(ctx);
    return found;
}
