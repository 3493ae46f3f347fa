// Song files: saving and loading the whole document.
//
//   image layout      buildSongImage / applySongImage
//   saving            saveSong
//   loading           loadSongFromBytes / loadSong
#include "song/song_file.h"

#include <cstring>
#include <fstream>
#include <vector>

#include "song/bytes.h"
#include "song/codec.h"
#include "song/safe_file.h"
#include "song/song.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/status.h"

// "VORNADEV" then the format version 2, most significant byte first.
static const uint8_t SongHeader[12] = {'V', 'O', 'R', 'N', 'A', 'D', 'E', 'V', 0, 0, 0, 2};
constexpr std::size_t HeaderSize = sizeof SongHeader;  // 12
constexpr std::size_t PreambleSize = HeaderSize + 4;    // header + packed length word

// Image offsets: theme and speed bytes, 64 order bytes, then eight channel
// blocks of four 4096-byte planes (note, volume, effect, parameter).
constexpr uint32_t OrdersOffset = 4;
constexpr uint32_t ChannelsOffset = OrdersOffset + OrderSlots;  // 68
constexpr uint32_t PlaneSize = CellsPerChannel;                 // 4096
constexpr uint32_t ChannelBlockSize = 4 * PlaneSize;            // 16384
static_assert(ChannelsOffset + ChannelCount * ChannelBlockSize == SongImageSize, "image size");

// The longest packed stream that can still unpack to one image: a long-form
// token of count 0 spends four bytes on one output byte. A larger file is
// refused before it is read.
constexpr std::size_t MaxSongFileSize = PreambleSize + 1 + 4 * std::size_t(SongImageSize);

static const std::string loadFailure = "\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER";

// ---- image layout -----------------------------------------------------------

void buildSongImage(uint8_t* image) {
    // Every value keeps its low eight bits; the file has no wider field.
    image[0] = uint8_t(song.themeRed);
    image[1] = uint8_t(song.themeGreen);
    image[2] = uint8_t(song.themeBlue);
    image[3] = uint8_t(song.speed.load());
    for (int i = 0; i < OrderSlots; ++i) image[OrdersOffset + i] = uint8_t(song.orders[i].load());
    for (int c = 0; c < ChannelCount; ++c) {
        uint8_t* block = image + ChannelsOffset + c * ChannelBlockSize;
        const Cell* cells = song.channels[c].cells;
        for (uint32_t i = 0; i < PlaneSize; ++i) {
            block[i] = uint8_t(cells[i].note.load());
            block[PlaneSize + i] = uint8_t(cells[i].volume.load());
            block[2 * PlaneSize + i] = uint8_t(cells[i].effect.load());
            block[3 * PlaneSize + i] = uint8_t(cells[i].effectParam.load());
        }
    }
}

void applySongImage(const uint8_t* image) {
    // Values are taken as they are; every user of the document stays inside
    // its own tables.
    song.themeRed = image[0];
    song.themeGreen = image[1];
    song.themeBlue = image[2];
    song.speed = image[3];
    for (int i = 0; i < OrderSlots; ++i) song.orders[i] = image[OrdersOffset + i];
    for (int c = 0; c < ChannelCount; ++c) {
        const uint8_t* block = image + ChannelsOffset + c * ChannelBlockSize;
        Cell* cells = song.channels[c].cells;
        for (uint32_t i = 0; i < PlaneSize; ++i) {
            cells[i].note = block[i];
            cells[i].volume = block[PlaneSize + i];
            cells[i].effect = block[2 * PlaneSize + i];
            cells[i].effectParam = block[3 * PlaneSize + i];
        }
    }
}

// ---- saving -----------------------------------------------------------------

bool saveSong(const std::string& name) {
    std::vector<uint8_t> image(SongImageSize);
    buildSongImage(image.data());

    // The whole file in memory: header, length word, packed image.
    std::vector<uint8_t> file(PreambleSize + packedBound(SongImageSize));
    std::memcpy(file.data(), SongHeader, HeaderSize);
    const uint32_t packedLength = packRle(image.data(), file.data() + PreambleSize, SongImageSize);
    putLe32(file.data() + HeaderSize, packedLength);  // L, least significant byte first
    file.resize(PreambleSize + packedLength);

    // Written beside the target and renamed over it only when complete, so a
    // failed save leaves any earlier file as it was.
    SafeFile out;
    // A NUL would cut the path short and write some other file.
    bool ok = name.find('\0') == std::string::npos && safeOpen(out, name + ".vorna");
    if (ok) {
        safeWrite(out, file.data(), file.size());
        ok = safeCommit(out);  // refuses, and cleans up, after a failed write
    }
    if (!ok) {
        showStatus("File \"" + name + "\" COULDN'T BE SAVED");
        return false;
    }
    songModified = false;
    showStatus("File \"" + name + "\" SUCCESSFULLY SAVED");
    return true;
}

// ---- loading ----------------------------------------------------------------

bool loadSongFromBytes(const std::string& name, const uint8_t* data, std::size_t size) {
    // Every check comes before the first change: a refused file leaves the
    // song, its name and the editor as they were.
    bool ok = size >= PreambleSize && std::memcmp(data, SongHeader, HeaderSize) == 0;
    std::vector<uint8_t> image;
    if (ok) {
        const uint32_t packedLength = getLe32(data + HeaderSize);
        // The file ends right after the packed image.
        ok = size - PreambleSize == packedLength;
        if (ok) {
            image.resize(SongImageSize);
            ok = unpackRle(data + PreambleSize, image.data(), packedLength, SongImageSize) == int64_t(SongImageSize);
        }
    }
    if (!ok) {
        showStatus("File \"" + name + loadFailure);
        return false;
    }

    applySongImage(image.data());
    setPalette(song.themeRed, song.themeGreen, song.themeBlue);
    fadeCounter = 300;  // the start-up fade would paint over the loaded theme
    orderPos = 0;
    const int32_t first = song.orders[0];
    // A damaged first slot stays in the order list but never becomes the
    // pattern shown and played.
    if (first >= 0 && first < PatternCount) currentPattern = first;
    songName = name;
    songModified = false;
    showStatus("File \"" + name + "\" SUCCESSFULLY LOADED");
    return true;
}

bool loadSong(const std::string& name) {
    std::vector<uint8_t> file(MaxSongFileSize + 1);
    std::size_t size = 0;
    // A NUL would cut the path short and read some other file.
    if (name.find('\0') == std::string::npos) {
        std::ifstream in(name + ".vorna", std::ios::binary);
        if (in) {
            in.read(reinterpret_cast<char*>(file.data()), std::streamsize(file.size()));
            if (!in.bad()) size = std::size_t(in.gcount());
        }
    }
    // Missing, unreadable, or longer than any song file can be: an empty
    // buffer fails the header check with the usual message.
    if (size > MaxSongFileSize) size = 0;
    return loadSongFromBytes(name, file.data(), size);
}
