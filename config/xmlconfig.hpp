// Reading and writing the settings file (an XML property list) into and from
// the configuration record m_Config, and the factory defaults.
#pragma once

#include <map>
#include <optional>
#include <string>

#include <pugixml.hpp>

#include "config/qz5_config.hpp"

class xmlconfig {
public:
    // The class-wide settings-file path, used by LoadConfigFile and WriteConfigFile.
    static void setConfigfileName(const std::string& path);
    static const std::string& ConfigfileName();

    // Fills m_Config from the file, or with the factory defaults when the file
    // cannot be read as a property-list dictionary. Returns whether the file was read.
    bool LoadConfigFile();

    // A copy of the whole record.
    _QZ5_CONFIG getConfig() const;

    // Factory defaults for the whole record; every key produces itself.
    void InitialConfigData();
    // Resets the key-slot table of one profile (0-2) and nothing else.
    void InitialProfile(int profile);

    // Writes m_Config to the settings file atomically. On failure the old file
    // stays as it was and "write fail!" goes to the system log.
    bool WriteConfigFile();

    // Comma tokenizer: the text from *pos up to the next ",", moving *pos past
    // it; nothing when *pos is at the end or no comma follows.
    static std::optional<std::string> GetSubString(size_t* pos, const std::string& srcString);

    // Reads the property-list file at path into rec. Returns false, leaving rec
    // untouched, when the file cannot be read as a property-list dictionary.
    bool ReadFileInto(const std::string& path, _QZ5_CONFIG& rec);

private:
    // Cursors while a file is read, one per nesting level.
    pugi::xml_node pConfig;
    pugi::xml_node pProfile;
    pugi::xml_node pTKey_info;
    pugi::xml_node pMappingKey_info;
    pugi::xml_node pMacroInfo;
    pugi::xml_node pKeymapInfo;
    pugi::xml_node pInstantInfo;
    pugi::xml_node pLightInfo;

    static std::string pConfigFileName;
};

// Factory defaults into any record.
void InitialConfigInto(_QZ5_CONFIG& rec);
// Entries of a settings file that the record does not hold (another settings
// application may keep its own), by the dictionary that holds them: its path
// of keys from the root ("" the root, "PROFILE_2/TKEYINFO_3/MACRO"), and the
// entries as XML text, indented for the writer.
using ForeignEntries = std::map<std::string, std::string>;
// The foreign entries of a settings file's text: those of every dictionary the
// record is read from, except the macro steps (KEYMAP_n), which are the
// record's. Empty when the text is not a property-list dictionary.
ForeignEntries ReadForeignEntries(const std::string& xml);

// The settings file as XML text, as the writer stores it; with foreign
// entries, each goes at the end of its dictionary when the record writes that
// dictionary.
std::string SettingsXml(const _QZ5_CONFIG& rec, const ForeignEntries* foreign = nullptr);
// Writes rec as a settings file to path, atomically: a temporary file in the
// same folder, fsync, rename, fsync of the folder. Returns success.
bool WriteSettingsFrom(const _QZ5_CONFIG& rec, const std::string& path);

// The settings-file path the daemon and qz5ctl use: QZ5_SETTINGS_FILE from
// the environment when set, else the path fixed at build time. A path that
// begins with "~/" is in the home folder of the user running (for qz5d, the
// console user it became): $HOME, else the home of the passwd entry.
std::string SettingsFilePath();
