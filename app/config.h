#pragma once
// The one-token configuration files conf/KEY.conf, and where they and the
// other data files (splash.dat) are found.
#include <cstdint>
#include <optional>
#include <string>

#include "ui/scale_frame.h"

// Where the installed data lives, relative to the folder of the program.
#ifndef VORNA_SHARE_FROM_BINARY
#define VORNA_SHARE_FROM_BINARY "../share/vornatracker"
#endif
constexpr const char* ShareFromBinary = VORNA_SHARE_FROM_BINARY;

// $XDG_CONFIG_HOME/vornatracker, else ~/.config/vornatracker; "" when neither is known.
std::string userDataFolder();
// The share folder beside the running program; "" when it cannot be told.
std::string shareFolder();
// A data file named relative to a data folder ("splash.dat", "conf/video/scale.conf"):
// the first that exists of the working folder, the user's folder and the
// share folder; the working folder's name when there is none.
std::string dataFilePath(const std::string& relative);
// The file of a configuration key: dataFilePath("conf/" + key + ".conf").
std::string configPath(const std::string& key);

std::string readConfigText(const std::string& key);            // "" when missing or empty
std::optional<int32_t> readConfigInt(const std::string& key);  // no value when missing or malformed
std::optional<bool> readConfigFlag(const std::string& key);    // only the numbers 0 and 1 are flags

// The start-up settings with their defaults for missing or malformed files.
std::string configDriver();     // "dsound"
unsigned configBufferFrames();  // 512; sizes the stream cannot take (audio/stream.h) become 512
bool configFullscreen();        // off
bool configSplash();            // on
int configScale();              // 1..MaxScale or ScaleAuto; 1 when missing or not one of those
