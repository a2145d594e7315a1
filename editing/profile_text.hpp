// A whole profile as text, in the words of `qz5ctl set P ...`, one setting a
// line, for `qz5ctl profile export` and `profile import`:
//   key KEY TARGET                 a remapped key
//   T3 launch "PATH" name "TEXT" repeat 2 macro
//                                  a programmable key's clauses, in order
//   T3 steps ... end               its macro, one step a line, as macro text
//   shift next MOD previous MOD    the instant-shift modifiers
//   raw PATH VALUE                 a value the words cannot say, under its
//                                  settings-file keys (raw KEY_140 7,
//                                  raw TKEYINFO_3/MACRO/REPEAT_TIMES 5)
// What the factory profile holds is left out, so the text read into a
// factory profile gives the same record again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/qz5_config.hpp"

std::string ProfileText(const _QZ5_PROFILE& profile);

// The words of a line: split at white space; "..." is one word, in which \"
// and \\ stand for " and \, and \t, \n, \xHH for those bytes; a word that
// begins with # begins a comment, to the end of the line. Throws WordError
// for an unterminated quote.
std::vector<std::string> SplitQuoted(const std::string& line);
// text in double quotes, as SplitQuoted reads it back.
std::string Quoted(const std::string& text);

// The number field of a profile that a raw PATH names; throws WordError for
// a path that names none.
uint32_t& RawField(_QZ5_PROFILE& profile, const std::string& path);
