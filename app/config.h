#pragma once
// The four one-token configuration files "conf/" + key + ".conf".
#include <cstdint>
#include <optional>
#include <string>

std::string readConfigText(const std::string& key);             // "" when missing or empty
std::optional<int32_t> readConfigInt(const std::string& key);   // no value when missing or malformed
std::optional<bool> readConfigFlag(const std::string& key);     // only the numbers 0 and 1 are flags

// The start-up settings with their defaults for missing or malformed files.
std::string configDriver();       // "dsound"
unsigned configBufferFrames();    // 512; values outside 16..8192 become 512
bool configFullscreen();          // off
bool configSplash();              // on
