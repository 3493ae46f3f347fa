// The recovery copy's bytes: song file + trailer.
#include "song/recovery_copy.h"

#include <cstring>

#include "song/bytes.h"
#include "song/song_file.h"

// After the song file: "VORNAREC", version, time written, then (version 2)
// the state of the song's file, then name and folder. Version 1 copies have
// no file state and are still read.
static const uint8_t TrailerMagic[8] = {'V', 'O', 'R', 'N', 'A', 'R', 'E', 'C'};
constexpr uint32_t TrailerVersion = 2;
constexpr std::size_t TrailerFixed = 8 + 4 + 8;  // magic, version, time
// Known flag (4), size (8), modification seconds (8) and nanoseconds (4), device (8), inode (8).
constexpr std::size_t FileStateSize = 4 + 8 + 8 + 4 + 8 + 8;

static void putText(std::vector<uint8_t>& out, const std::string& text) {
    uint8_t length[4];
    putLe32(length, uint32_t(text.size()));  // byte count, then the bytes
    out.insert(out.end(), length, length + 4);
    out.insert(out.end(), text.begin(), text.end());
}

static bool getText(const uint8_t*& p, const uint8_t* end, std::string& text) {
    if (end - p < 4) return false;
    const uint32_t n = getLe32(p);
    p += 4;
    if (n > RecoveryNameMax || uint64_t(end - p) < n) return false;
    text.assign(reinterpret_cast<const char*>(p), n);
    p += n;
    return text.find('\0') == std::string::npos;  // a NUL would cut a path short
}

static void putFileState(std::vector<uint8_t>& out, const FileState& f) {
    uint8_t b[FileStateSize];
    putLe32(b, f.known ? 1 : 0);
    putLe64(b + 4, f.size);
    putLe64(b + 12, uint64_t(f.modifiedSec));
    putLe32(b + 20, f.modifiedNsec);
    putLe64(b + 24, f.device);
    putLe64(b + 32, f.inode);
    out.insert(out.end(), b, b + FileStateSize);
}

static bool getFileState(const uint8_t*& p, const uint8_t* end, FileState& f) {
    if (std::size_t(end - p) < FileStateSize) return false;
    const uint32_t known = getLe32(p);
    f.known = known == 1;
    f.size = getLe64(p + 4);
    f.modifiedSec = int64_t(getLe64(p + 12));
    f.modifiedNsec = getLe32(p + 20);
    f.device = getLe64(p + 24);
    f.inode = getLe64(p + 32);
    p += FileStateSize;
    // An unknown state is all zeros; nanoseconds stay below a second.
    return known <= 1 && f.modifiedNsec < 1000000000u && (f.known || FileState() == f);
}

std::vector<uint8_t> encodeRecoveryCopy(const RecoveryCopy& copy) {
    std::vector<uint8_t> out = encodeSongFile(copy.image.data());
    uint8_t fixed[TrailerFixed];
    std::memcpy(fixed, TrailerMagic, 8);
    putLe32(fixed + 8, TrailerVersion);
    putLe32(fixed + 12, uint32_t(copy.writtenNs));  // time: low word, then high word
    putLe32(fixed + 16, uint32_t(copy.writtenNs >> 32));
    out.insert(out.end(), fixed, fixed + TrailerFixed);
    putFileState(out, copy.file.known ? copy.file : FileState());
    putText(out, copy.name);
    putText(out, copy.folder);
    return out;
}

bool decodeRecoveryCopy(const uint8_t* data, std::size_t size, RecoveryCopy& copy) {
    std::size_t songBytes = 0;
    if (!decodeSongFile(data, size, copy.image, &songBytes)) return false;
    const uint8_t* p = data + songBytes;
    const uint8_t* end = data + size;
    if (std::size_t(end - p) < TrailerFixed || std::memcmp(p, TrailerMagic, 8) != 0) return false;
    const uint32_t version = getLe32(p + 8);
    if (version != 1 && version != TrailerVersion) return false;
    copy.writtenNs = uint64_t(getLe32(p + 12)) | uint64_t(getLe32(p + 16)) << 32;
    p += TrailerFixed;
    copy.file = FileState();
    if (version >= 2 && !getFileState(p, end, copy.file)) return false;
    return getText(p, end, copy.name) && getText(p, end, copy.folder) && p == end;
}

const std::size_t MaxRecoveryCopySize = MaxSongFileSize + TrailerFixed + FileStateSize + 2 * (4 + RecoveryNameMax);
