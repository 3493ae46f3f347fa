#include "tests/support/song_reference.h"

#include <cstring>

namespace reference {

const uint8_t SongHeader[12] = {'V', 'O', 'R', 'N', 'A', 'D', 'E', 'V', 0, 0, 0, 2};

static uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool unpack(const uint8_t* p, size_t n, Bytes& out, size_t limit) {
    out.clear();
    if (n == 0) return true;
    const uint8_t e = p[0];
    size_t i = 1;
    while (i < n) {
        const uint8_t c = p[i++];
        size_t count = 1;
        uint8_t value = c;
        if (c == e) {
            if (i >= n) return false;
            count = p[i++];
            if (count <= 2) {
                value = e;
            } else {
                if (count >= 128) {
                    if (i >= n) return false;
                    count = (count - 128) * 256 + p[i++];
                }
                if (i >= n) return false;
                value = p[i++];
            }
            ++count;  // every count stands for one more byte than it says
        }
        if (out.size() + count > limit) return false;
        out.insert(out.end(), count, value);
    }
    return true;
}

bool readSong(const Bytes& file, Bytes& image, size_t& used, std::string& error) {
    if (file.size() < 16 || std::memcmp(file.data(), SongHeader, 12) != 0) {
        error = "bad header";
        return false;
    }
    const uint32_t length = le32(file.data() + 12);
    if (file.size() - 16 < length) {
        error = "file is " + std::to_string(file.size()) + " bytes, header says " + std::to_string(length) + " + 16";
        return false;
    }
    if (!unpack(file.data() + 16, length, image)) {
        error = "packed image cut off or far too long";
        return false;
    }
    if (image.size() != ImageSize) {
        error = "image unpacks to " + std::to_string(image.size()) + " bytes";
        return false;
    }
    used = 16 + size_t(length);
    return true;
}

static uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32; }

bool readTrailer(const uint8_t* p, size_t n, CopyTrailer& trailer, std::string& error) {
    const uint8_t magic[8] = {'V', 'O', 'R', 'N', 'A', 'R', 'E', 'C'};
    if (n < 20 || std::memcmp(p, magic, 8) != 0 || (le32(p + 8) != 1 && le32(p + 8) != 2)) {
        error = "bad trailer";
        return false;
    }
    trailer.version = le32(p + 8);
    trailer.written = le64(p + 12);
    size_t i = 20;
    if (trailer.version == 2) {
        if (n - i < 40 || le32(p + i) > 1) {
            error = "bad file state";
            return false;
        }
        trailer.fileKnown = le32(p + i) == 1;
        trailer.fileSize = le64(p + i + 4);
        trailer.fileSeconds = le64(p + i + 12);
        trailer.fileNanoseconds = le32(p + i + 20);
        trailer.fileDevice = le64(p + i + 24);
        trailer.fileInode = le64(p + i + 32);
        i += 40;
    }
    for (std::string* text : {&trailer.name, &trailer.folder}) {
        if (n - i < 4 || n - i - 4 < le32(p + i)) {
            error = "trailer text cut off";
            return false;
        }
        const size_t length = le32(p + i);
        text->assign(reinterpret_cast<const char*>(p + i + 4), length);
        i += 4 + length;
    }
    if (i != n) {
        error = std::to_string(n - i) + " bytes after the trailer";
        return false;
    }
    return true;
}

}  // namespace reference
