#pragma once
// Song files: name + ".vorna" = 12-byte header, packed length, packed image.
// This layer only turns songs into bytes and bytes into songs, and reads and
// writes the files; it tells its caller how that went and shows nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t SongImageSize = 131140;  // 4 theme/speed bytes, 64 orders, 8 x 16384 cell planes

// Image offsets: theme and speed bytes, 64 order bytes, then eight channel
// blocks of four 4096-byte planes (note, volume, effect, parameter).
constexpr uint32_t SpeedOffset = 3;
constexpr uint32_t OrdersOffset = 4;
constexpr uint32_t ChannelsOffset = 68;
constexpr uint32_t PlaneSize = 4096;
constexpr uint32_t ChannelBlockSize = 4 * PlaneSize;  // 16384

// The image offset of one saved value: a cell field (0 note, 1 volume,
// 2 effect, 3 parameter) or an order slot. Each offset also names the value
// in memory, so an edit can be recorded as (offset, old, new).
constexpr uint32_t cellOffset(int channel, int pattern, int row, int field) {
    return ChannelsOffset + uint32_t(channel) * ChannelBlockSize + uint32_t(field) * PlaneSize +
           uint32_t(pattern) * 64 + uint32_t(row);
}
constexpr uint32_t orderOffset(int slot) { return OrdersOffset + uint32_t(slot); }

// The value in memory at an image offset (below SongImageSize).
int32_t readSongWord(uint32_t offset);
void writeSongWord(uint32_t offset, int32_t value);

// Whole song document to/from its unpacked image.
void buildSongImage(uint8_t* image);
void applySongImage(const uint8_t* image);

// The file a song name stands for: the name with ".vorna" appended.
std::string songFileName(const std::string& name);

// The whole file for an image: header, length word, packed image.
std::vector<uint8_t> encodeSongFile(const uint8_t* image);
// Checks and unpacks a whole song file into image (resized to SongImageSize).
// False when the header, the length word or the packed stream is wrong. With
// songBytes given, bytes may follow the packed image and *songBytes tells
// where the song file ends; without it the file must end there.
bool decodeSongFile(const uint8_t* data, std::size_t size, std::vector<uint8_t>& image,
                    std::size_t* songBytes = nullptr);

// The longest packed stream that can still unpack to one image: a long-form
// token of count 0 spends four bytes on one output byte.
constexpr std::size_t MaxSongFileSize = 16 + 1 + 4 * std::size_t(SongImageSize);

// Reads and decodes the song file at path. Never blocks: a FIFO, a device, a
// socket or a folder is refused at once, like a missing or damaged file.
bool readSongFile(const std::string& path, std::vector<uint8_t>& image);
// Writes the file for image to path crash-safely (see safe_file.h).
bool writeSongFile(const std::string& path, const uint8_t* image);

// Saves the song in memory under name + ".vorna"; loads name + ".vorna" into
// the song in memory (the document only: no name, cursor or screen).
bool saveSong(const std::string& name);
bool loadSong(const std::string& name);
