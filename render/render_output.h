#pragma once
// vorna-render's output files: the formats it writes, where their bytes go
// (a file replaced only when complete, or standard output) and the values
// each format stores for the mix and for one channel's stem.
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "song/safe_file.h"

enum class Format { Wav16, Wav24, WavFloat, Flac, Ogg };

// The format named on the command line ("wav", "wav16", "wav24", "wav32f",
// "flac", "ogg"); false for any other name.
bool formatByName(const std::string& name, Format& format);
// The format an output name asks for, its extension in any case: ".flac"
// FLAC, ".ogg" or ".oga" Ogg Vorbis, anything else the 16-bit WAV as always.
Format formatOfName(const std::string& path);
const char* extensionOf(Format format);  // ".wav", ".flac", ".ogg"
const char* formatNames();               // for the usage text

// One output being written, through libsndfile for every format but the
// 16-bit WAV on standard output (whose header comes first, length known).
struct Output {
    Format format = Format::Wav16;
    // Where the bytes go.
    enum class To { File, Pipe, Spool } to = To::File;
    SafeFile file;               // To::File: beside the target until finished
    std::FILE* spool = nullptr;  // To::Spool: a scratch file copied to standard output at the end
    int64_t position = 0;        // where the encoder writes next
    int64_t length = 0;          // bytes the output holds
    int64_t filePosition = 0;    // where the file's own position stands
    bool discarding = false;     // To::Pipe: bytes after a seek back cannot be sent
    bool failed = false;
    bool finished = false;
    SNDFILE* sound = nullptr;    // the encoder; null for the streamed 16-bit WAV
    std::vector<uint8_t> bytes;  // scratch for converted samples
    std::vector<int> ints;
    std::vector<float> floats;

    Output() = default;
    Output(const Output&) = delete;  // the encoder holds this object's address
    Output& operator=(const Output&) = delete;
    ~Output();  // an unfinished output is thrown away
};

// Opens an output of `format` at `path` ("-": standard output). A file is
// written beside its target and renamed over it by finishOutput. `frames` is
// the length to come (a WAV on standard output carries it in its header).
// False when it cannot be opened; `why` then says why.
bool openOutput(Output& out, const std::string& path, Format format, uint64_t frames, std::string& why);
// Values come in 16-bit steps: `exact` is the 16-bit sample as the 16-bit
// formats store it, `fine` the same signal before its rounding to 16 bits
// (stored by the 24-bit, float and Ogg formats).
bool writeOutput(Output& out, const int16_t* exact, const double* fine, int count);
// Completes the output (renames the file over its target, or sends the rest
// to standard output); false when anything failed, and then an existing
// target is left as it was.
bool finishOutput(Output& out);

// The values of one frame, in 16-bit steps, clamped to +-32767.
// The mix, from the channels as they enter it (float32 sum in channel order,
// float32 mean, times 32767.5), before the export truncates it to 16 bits.
double fineMix(const double* const* channels, int frame);
// One channel's share of that mix: its value / 8 x 32767.5.
double fineStem(double channelValue);
// A fine value rounded to the 16-bit sample a stem stores.
int16_t stemSample(double fine);
