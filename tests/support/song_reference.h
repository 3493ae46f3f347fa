#pragma once
// The song file and the recovery copy read by the tests' own decoder,
// written from the format's description and sharing nothing with the
// program's codec or loader, so that what the program writes is judged by
// something other than itself. Used by the unit tests and, through the
// song-json program, by the script tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace reference {

using Bytes = std::vector<uint8_t>;

// Theme, speed, 64 order slots and eight channel blocks of four planes of 4096 cells.
constexpr size_t ImageSize = 4 + 64 + 8 * 4 * 4096;
// "VORNADEV", then the format version 2 most significant byte first.
extern const uint8_t SongHeader[12];

// The packed stream decoded token by token: byte 0 is the escape byte E,
// then literals, (E, k < 3) = k + 1 escapes, (E, k, v) = k + 1 copies of v,
// (E, 128 + h, l, v) = h * 256 + l + 1 copies of v. False when a token is
// cut off by the end of the stream or the output would pass `limit`.
bool unpack(const uint8_t* stream, size_t length, Bytes& out, size_t limit = 4 * ImageSize);

// A song file at the start of `file`: the header, the length word L (least
// significant byte first), and L packed bytes that unpack to exactly one
// image. `used` is 16 + L, where anything after the song (a recovery
// copy's trailer) begins. False with the reason in `error` otherwise.
bool readSong(const Bytes& file, Bytes& image, size_t& used, std::string& error);

// What follows the song in a recovery copy: "VORNAREC", the version (32-bit,
// 1 or 2), the 64-bit time it was written, in version 2 the state of the
// song's file (a 32-bit flag 0 or 1 for known, the 64-bit size, 64-bit
// seconds and 32-bit nanoseconds of its modification, the 64-bit device and
// inode; all zero when unknown), then the song's name and the folder it
// belongs to, each a 32-bit length and its bytes, and nothing after them.
// All numbers least significant byte first.
struct CopyTrailer {
    uint32_t version = 0;
    uint64_t written = 0;
    bool fileKnown = false;
    uint64_t fileSize = 0, fileSeconds = 0, fileDevice = 0, fileInode = 0;
    uint32_t fileNanoseconds = 0;
    std::string name, folder;
};
bool readTrailer(const uint8_t* bytes, size_t length, CopyTrailer& trailer, std::string& error);

}  // namespace reference
