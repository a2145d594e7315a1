// What a launch key starts, worked out before anything runs: the command
// line, its folder and a name for the unit it runs in.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The fields of a desktop entry that its Exec line refers to.
struct DesktopEntryFields {
    std::string exec;
    std::string name;      // %c
    std::string icon;      // %i gives "--icon ICON"
    std::string location;  // %k: the entry's own file
};

// The Exec line's command line for the given files (paths; %u and %U give
// their file: URIs), as GLib does it: field codes are replaced by quoted
// values, then the line is split by the shell's quoting rules (no shell
// runs). nullopt when the line is empty or cannot be split.
std::optional<std::vector<std::string>> ExpandDesktopExec(const DesktopEntryFields& entry,
                                                          const std::vector<std::string>& files);

// The unit a program runs in under the user's service manager, after the
// desktops' convention: "app-qz5d-NAME@RANDOM.service"; characters a unit
// name cannot hold become '_'.
std::string LaunchUnitName(const std::string& name, const std::string& random);

// program when it holds a '/', else the first executable file of that name
// in the folders of path (a PATH value); "" when there is none.
std::string FindProgram(const std::string& program, const std::string& path);
