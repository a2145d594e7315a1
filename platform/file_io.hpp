// Whole-file reads and atomic replacement of a file.
#pragma once

#include <string>
#include <string_view>

// Reads a regular file whole. False when it is missing, not a regular file or unreadable.
bool ReadWholeFile(const std::string& path, std::string& out);

// Replaces path with contents in one step: a temporary file in the same
// folder, fsync, rename over path, fsync of the folder. On any failure the
// old file is left as it was and the temporary file removed. The new file
// keeps the old file's permissions, or gets 0644.
bool WriteFileAtomically(const std::string& path, std::string_view contents);
