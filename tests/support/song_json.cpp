// song-json FILE...: each song file or recovery copy read by the tests'
// reference decoder, one JSON line per file, for the script tests' checks:
//   {"file": F, "size": bytes, "length": L, "image": "<hex of the 131140 bytes>",
//    "copy": {"written": ns, "name": N, "folder": D} or null, "copy_error": text or null}
// or {"file": F, "error": text} when it is no song file. "copy" is null when
// the file ends right after the song, "copy_error" says why the bytes after
// it are no recovery trailer. Exit status 0 unless a file could not be read.
#include <cstdio>
#include <string>

#include "tests/support/files.h"
#include "tests/support/song_reference.h"

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    for (int a = 1; a < argc; ++a) {
        const std::string path = argv[a];
        const Bytes file = readFile(path);
        std::string line = "{\"file\": " + quoted(path);
        Bytes image;
        size_t used = 0;
        std::string error;
        if (!fileExists(path)) {
            line += ", \"error\": \"cannot read the file\"";
            status = 1;
        } else if (!reference::readSong(file, image, used, error)) {
            line += ", \"error\": " + quoted(error);
        } else {
            line += ", \"size\": " + std::to_string(file.size()) + ", \"length\": " + std::to_string(used - 16);
            line += ", \"image\": \"" + hex(image) + "\"";
            reference::CopyTrailer trailer;
            if (used == file.size()) {
                line += ", \"copy\": null, \"copy_error\": null";
            } else if (reference::readTrailer(file.data() + used, file.size() - used, trailer, error)) {
                line += ", \"copy\": {\"written\": " + std::to_string(trailer.written) + ", \"name\": " +
                        quoted(trailer.name) + ", \"folder\": " + quoted(trailer.folder) + "}, \"copy_error\": null";
            } else {
                line += ", \"copy\": null, \"copy_error\": " + quoted(error);
            }
        }
        std::printf("%s}\n", line.c_str());
    }
    return status;
}
