#pragma once
// The bytes of a recovery copy: a complete song file followed by a trailer
// that says whose work it is (the song's name, the working folder it belongs
// to, when it was written, the state of the song's file). Pure bytes; where
// the copies live and when they are written is app/recovery.cpp's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "song/safe_file.h"

// A recovery copy read back: a complete song file followed by a trailer.
struct RecoveryCopy {
    std::vector<uint8_t> image;  // the unpacked song
    std::string name;            // the song's name, "" when it had none
    std::string folder;          // the working folder it belongs to
    uint64_t writtenNs = 0;      // when it was written (ns since 1970), to find the newest
    FileState file;              // the song's file as the work was opened or last saved from it
};
// The bytes of a copy, and the way back. Parsing refuses anything malformed.
std::vector<uint8_t> encodeRecoveryCopy(const RecoveryCopy& copy);
bool decodeRecoveryCopy(const uint8_t* data, std::size_t size, RecoveryCopy& copy);
constexpr std::size_t RecoveryNameMax = 4096;  // longest name or folder a copy may carry
// The largest copy: the largest song file and two texts of the longest kind.
extern const std::size_t MaxRecoveryCopySize;  // song/recovery_copy.cpp
