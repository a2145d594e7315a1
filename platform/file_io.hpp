// Whole-file reads and atomic replacement of a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The largest file ReadWholeFile accepts. The largest settings file the
// format allows is about 50 MB.
inline constexpr uint64_t kMaxReadBytes = uint64_t{256} << 20;

// Reads a regular file of at most kMaxReadBytes whole, without blocking on a
// FIFO or device. False when it is missing, not a regular file, larger than
// the limit or unreadable.
bool ReadWholeFile(const std::string& path, std::string& out);

// Replaces path with contents in one step: a temporary file in the same
// folder, fsync, rename over path, fsync of the folder. On any failure the
// old file is left as it was and the temporary file removed. The new file
// keeps the old file's permissions, or gets 0644.
bool WriteFileAtomically(const std::string& path, std::string_view contents);
