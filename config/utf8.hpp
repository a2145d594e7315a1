// The one check of UTF-8 text: well-formed sequences only, no overlong forms,
// surrogates or code points above U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The length of the well-formed sequence that begins at s[i] and its code
// point in *cp; 0 when none begins there.
size_t Utf8SequenceAt(std::string_view s, size_t i, uint32_t* cp = nullptr);

// Whether all of s is well-formed UTF-8.
bool IsUtf8(std::string_view s);
