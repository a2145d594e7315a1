// The settings file's schema: every key of every dictionary, the field of the
// configuration record it is read into, its kind and the values it takes.
// The reader, the writer, the editor's list of the keys the record holds and
// qz5ctl's words all come from this one table; a new setting is a row here
// (and a field in the record), in the order the writer stores it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "config/qz5_config.hpp"

// The dictionaries of the file, each read into one part of the record.
enum class SettingDict { Root, Light, Profile, KeyInfo, Macro, Step, Shift };
inline constexpr int kSettingDictCount = 7;

enum class SettingKind { Integer, Text, Dict };

// What the reader makes of an integer above the entry's max.
enum class AboveMax { Kept, ReadsZero, ReadsMax };

struct SettingEntry {
    const char* key;  // the file key; of an indexed entry, the prefix of KEY_1 ... KEY_count
    int count;        // 0 a single entry, else the number of indexed entries
    SettingKind kind;
    size_t offset;    // of the field in the dictionary's part of the record
    size_t stride;    // between indexed entries
    SettingDict dict;  // the dictionary a Dict entry holds
    uint32_t max;      // an Integer's values are 0 to max (a Text holds kTextSize - 1 bytes)
    AboveMax aboveMax;
    int countFrom;     // of an indexed entry, the Integer entry of the same dictionary that
                       // tells how many are in use; -1 when all are
    const char* word;  // qz5ctl's word for it, nullptr for none
};

std::span<const SettingEntry> SettingEntries(SettingDict dict);

// The entry of dict that key names, and for an indexed entry the index
// (0-based) in *index; nullptr when the record does not hold key. Indexed
// keys are "PREFIXn", n from 1 to count without leading zeros.
const SettingEntry* FindSetting(SettingDict dict, std::string_view key, int* index = nullptr);

// The entry of dict whose file key (or prefix) is key; it must exist.
const SettingEntry& Setting(SettingDict dict, std::string_view key);

// The field of an entry in the dictionary's part of the record at base.
inline uint32_t& IntegerField(void* base, const SettingEntry& e, int index = 0) {
    return *reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(base) + e.offset + e.stride * index);
}
inline uint32_t IntegerField(const void* base, const SettingEntry& e, int index = 0) {
    return *reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(base) + e.offset + e.stride * index);
}
inline char (&TextField(void* base, const SettingEntry& e, int index = 0))[kTextSize] {
    return *reinterpret_cast<char(*)[kTextSize]>(static_cast<unsigned char*>(base) + e.offset + e.stride * index);
}
inline const char* TextField(const void* base, const SettingEntry& e, int index = 0) {
    return reinterpret_cast<const char*>(base) + e.offset + e.stride * index;
}
inline void* DictField(void* base, const SettingEntry& e, int index) {
    return static_cast<unsigned char*>(base) + e.offset + e.stride * index;
}
inline const void* DictField(const void* base, const SettingEntry& e, int index) {
    return static_cast<const unsigned char*>(base) + e.offset + e.stride * index;
}

// How many of an entry the record holds in use: count (1 for a single entry),
// or the value of its countFrom entry, at most count.
int EntriesInUse(const void* base, std::span<const SettingEntry> dict, const SettingEntry& e);
