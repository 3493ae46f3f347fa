#pragma once
// Files for the tests and benchmarks: whole files read and written in one
// call, the names in a folder, and scratch folders that clean up after
// themselves. No test framework here, so the benchmarks can use it too.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
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
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// The names in a folder, without "." and ".."; none when it cannot be read.
inline std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

// A fresh folder vorna-TAG-XXXXXX in the system's scratch place (/tmp) for
// the object's life, open to its owner alone, removed with all it holds at
// the end; with `enter` it is also the working directory meanwhile, and the
// old one is back afterwards. path() is empty when the folder could not be
// made (or entered).
class TempFolder {
public:
    explicit TempFolder(const char* tag, bool enter = false) {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path base = fs::temp_directory_path(error);
        if (error) return;
        static std::mt19937 pick{std::random_device{}()};
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path folder = base / (std::string("vorna-") + tag + "-" + std::to_string(pick() % 1000000));
            if (fs::create_directory(folder, error)) path_ = folder.string();
        }
        if (path_.empty()) return;
        fs::permissions(path_, fs::perms::owner_all, error);
        if (!enter) return;
        const fs::path old = fs::current_path(error);
        if (!error) fs::current_path(path_, error);
        if (error)
            close();
        else
            oldDir_ = old.string();
    }
    ~TempFolder() { close(); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }

    // Back to the old working directory and the tree removed, without
    // following links, like rm -rf; false when either failed.
    bool close() {
        std::error_code error;
        bool ok = true;
        if (!oldDir_.empty()) {
            std::filesystem::current_path(oldDir_, error);
            ok = !error;
        }
        oldDir_.clear();
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, error);
            ok = !error && ok;
        }
        path_.clear();
        return ok;
    }

private:
    std::string path_, oldDir_;
};
