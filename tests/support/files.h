#pragma once
// Files for the tests and benchmarks: whole files read and written in one
// call, the names in a folder, and scratch folders that clean up after
// themselves. No test framework here, so the benchmarks can use it too.
#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The whole file; empty when it cannot be read.
inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Creates or cuts the file and writes exactly these bytes.
inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The names in a folder, without "." and ".."; none when it cannot be read.
inline std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// A fresh folder /tmp/vorna-TAG-XXXXXX for the object's life, removed with
// all it holds at the end; with `enter` it is also the working directory
// meanwhile, and the old one is back afterwards. path() is empty when the
// folder could not be made (or entered).
class TempFolder {
public:
    explicit TempFolder(const char* tag, bool enter = false) {
        std::string pattern = std::string("/tmp/vorna-") + tag + "-XXXXXX";
        if (!mkdtemp(&pattern[0])) return;
        path_ = pattern;
        char cwd[4096];
        if (!enter) return;
        if (getcwd(cwd, sizeof cwd) && chdir(path_.c_str()) == 0)
            oldDir_ = cwd;
        else
            close();
    }
    ~TempFolder() { close(); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }

    // Back to the old working directory and the tree removed, depth first
    // and without following links, like rm -rf; false when either failed.
    bool close() {
        bool ok = true;
        if (!oldDir_.empty()) ok = chdir(oldDir_.c_str()) == 0;
        oldDir_.clear();
        if (!path_.empty()) ok = nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) == 0 && ok;
        path_.clear();
        return ok;
    }

private:
    static int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }
    std::string path_, oldDir_;
};
