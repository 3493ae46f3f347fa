// Song files: the document as bytes and the bytes as files.
//
//   image layout      readSongWord / writeSongWord, buildSongImage / applySongImage
//   file bytes        encodeSongFile / decodeSongFile
//   files             readSongFile / writeSongFile, saveSong / loadSong
#include "song/song_file.h"

#include <cstring>

#include "song/bytes.h"
#include "song/codec.h"
#include "song/names.h"
#include "song/safe_file.h"
#include "song/song.h"

// "VORNADEV" then the format version 2, most significant byte first.
static const uint8_t SongHeader[12] = {'V', 'O', 'R', 'N', 'A', 'D', 'E', 'V', 0, 0, 0, 2};
constexpr std::size_t HeaderSize = sizeof SongHeader;  // 12
constexpr std::size_t PreambleSize = HeaderSize + 4;   // header + packed length word
static_assert(ChannelsOffset == OrdersOffset + OrderSlots, "orders then channels");
static_assert(PlaneSize == uint32_t(CellsPerChannel), "one byte per cell in a plane");
static_assert(ChannelsOffset + ChannelCount * ChannelBlockSize == SongImageSize, "image size");

// ---- image layout -----------------------------------------------------------

static Relaxed<int32_t>& cellField(uint32_t offset) {
    const uint32_t inChannels = offset - ChannelsOffset;
    Cell& cell = song.channels[inChannels / ChannelBlockSize].cells[inChannels % PlaneSize];
    switch (inChannels % ChannelBlockSize / PlaneSize) {
    case 0: return cell.note;
    case 1: return cell.volume;
    case 2: return cell.effect;
    default: return cell.effectParam;
    }
}

int32_t readSongWord(uint32_t offset) {
    switch (offset) {
    case 0: return song.themeRed;
    case 1: return song.themeGreen;
    case 2: return song.themeBlue;
    case SpeedOffset: return song.speed;
    default: break;
    }
    if (offset < ChannelsOffset) return song.orders[offset - OrdersOffset];
    return cellField(offset);
}

void writeSongWord(uint32_t offset, int32_t value) {
    switch (offset) {
    case 0: song.themeRed = value; return;
    case 1: song.themeGreen = value; return;
    case 2: song.themeBlue = value; return;
    case SpeedOffset: song.speed = value; return;
    default: break;
    }
    if (offset < ChannelsOffset)
        song.orders[offset - OrdersOffset] = value;
    else
        cellField(offset) = value;
}

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

std::string songFileName(const std::string& name) { return name + std::string(SongExtension); }

// ---- file bytes -------------------------------------------------------------

std::vector<uint8_t> encodeSongFile(const uint8_t* image) {
    std::vector<uint8_t> file(PreambleSize + packedBound(SongImageSize));
    std::memcpy(file.data(), SongHeader, HeaderSize);
    const uint32_t packedLength = packRle(image, file.data() + PreambleSize, SongImageSize);
    putLe32(file.data() + HeaderSize, packedLength);  // L, least significant byte first
    file.resize(PreambleSize + packedLength);
    return file;
}

bool decodeSongFile(const uint8_t* data, std::size_t size, std::vector<uint8_t>& image, std::size_t* songBytes) {
    if (size < PreambleSize || std::memcmp(data, SongHeader, HeaderSize) != 0) return false;
    const uint32_t packedLength = getLe32(data + HeaderSize);
    // A plain song file ends right after the packed image.
    if (size - PreambleSize < packedLength || (!songBytes && size - PreambleSize != packedLength)) return false;
    image.resize(SongImageSize);
    if (unpackRle(data + PreambleSize, image.data(), packedLength, SongImageSize) != int64_t(SongImageSize))
        return false;
    if (songBytes) *songBytes = PreambleSize + packedLength;
    return true;
}

// ---- files ------------------------------------------------------------------

bool readSongFile(const std::string& path, std::vector<uint8_t>& image) {
    std::vector<uint8_t> file;
    // Missing, not a plain file, or longer than any song file can be.
    if (!readRegularFile(path, MaxSongFileSize, file)) return false;
    return decodeSongFile(file.data(), file.size(), image);
}

bool writeSongFile(const std::string& path, const uint8_t* image) {
    const std::vector<uint8_t> file = encodeSongFile(image);
    // Written beside the target and renamed over it only when complete, so a
    // failed save leaves any earlier file as it was.
    SafeFile out;
    if (!safeOpen(out, path)) return false;
    safeWrite(out, file.data(), file.size());
    return safeCommit(out);  // refuses, and cleans up, after a failed write
}

bool saveSong(const std::string& name) {
    std::vector<uint8_t> image(SongImageSize);
    buildSongImage(image.data());
    return writeSongFile(songFileName(name), image.data());
}

bool loadSong(const std::string& name) {
    std::vector<uint8_t> image;
    // Every check comes before the first change: a refused file leaves the song as it was.
    if (!readSongFile(songFileName(name), image)) return false;
    applySongImage(image.data());
    return true;
}
