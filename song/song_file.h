#pragma once
// Song files: name + ".vorna" = 12-byte header, packed length, packed image.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t SongImageSize = 131140;  // 4 theme/speed bytes, 64 orders, 8 x 16384 cell planes

// Whole song document to/from its unpacked image.
void buildSongImage(uint8_t* image);
void applySongImage(const uint8_t* image);

// Both report on the message line; both return whether they succeeded.
bool saveSong(const std::string& name);
bool loadSong(const std::string& name);

// The load of a whole song file already in memory: the same checks, effects
// and messages as loadSong; name is used only for the messages and songName.
bool loadSongFromBytes(const std::string& name, const uint8_t* data, std::size_t size);
