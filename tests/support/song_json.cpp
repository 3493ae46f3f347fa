// song-json FILE...: each song file or recovery copy read by the tests'
// reference decoder, one JSON line per file in the order given, for the
// script tests' checks:
//   {"size": bytes, "length": L, "image": hex of the 131140 bytes,
//    "copy": {"version": 1 or 2, "written": ns, "name": hex, "folder": hex,
//             "file": {"size", "seconds", "nanoseconds", "device", "inode"} or null}
//            or null, "copy_error": text or null}
// or {"error": text} when it is no song file. Texts of the file are in hex,
// so any byte comes through. "copy" is null when the file ends right after
// the song; "copy_error" says why the bytes after it are no recovery
// trailer. Exit status 0 unless a file could not be read.
#include <cstdio>
#include <string>

#include "tests/support/files.h"
#include "tests/support/song_reference.h"

static std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out + "\"";
}

static std::string fileState(const reference::CopyTrailer& t) {
    if (!t.fileKnown) return "null";
    return "{\"size\": " + std::to_string(t.fileSize) + ", \"seconds\": " + std::to_string(t.fileSeconds) +
           ", \"nanoseconds\": " + std::to_string(t.fileNanoseconds) + ", \"device\": " + std::to_string(t.fileDevice) +
           ", \"inode\": " + std::to_string(t.fileInode) + "}";
}

int main(int argc, char** argv) {
    int status = 0;
    for (int a = 1; a < argc; ++a) {
        const Bytes file = readFile(argv[a]);
        Bytes image;
        size_t used = 0;
        std::string error, line;
        reference::CopyTrailer trailer;
        if (!fileExists(argv[a])) {
            line = "\"error\": \"cannot read the file\"";
            status = 1;
        } else if (!reference::readSong(file, image, used, error)) {
            line = "\"error\": \"" + error + "\"";
        } else {
            line = "\"size\": " + std::to_string(file.size()) + ", \"length\": " + std::to_string(used - 16) +
                   ", \"image\": " + hex(std::string(image.begin(), image.end()));
            if (used == file.size())
                line += ", \"copy\": null, \"copy_error\": null";
            else if (reference::readTrailer(file.data() + used, file.size() - used, trailer, error))
                line += ", \"copy\": {\"version\": " + std::to_string(trailer.version) +
                        ", \"written\": " + std::to_string(trailer.written) + ", \"name\": " + hex(trailer.name) +
                        ", \"folder\": " + hex(trailer.folder) + ", \"file\": " + fileState(trailer) +
                        "}, \"copy_error\": null";
            else
                line += ", \"copy\": null, \"copy_error\": \"" + error + "\"";
        }
        std::printf("{%s}\n", line.c_str());
    }
    return status;
}
