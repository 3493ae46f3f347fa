#pragma once
// File names: the song file's extension and the ends of names, for every
// layer that names or recognises files.
#include <string>
#include <string_view>

constexpr std::string_view SongExtension = ".vorna";  // a song file is its song's name + this

// Whether text ends in tail, byte for byte.
inline bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A file name without its trailing ".vorna"; any other name as it is.
inline std::string withoutSongExtension(std::string_view file) {
    return std::string(endsWith(file, SongExtension) ? file.substr(0, file.size() - SongExtension.size()) : file);
}
