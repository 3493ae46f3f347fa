// vorna-render's outputs.
//
//   1. Formats
//   2. Values per format
//   3. Where the bytes go (libsndfile's virtual I/O)
//   4. Opening, writing, finishing
#include "render/render_output.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "audio/export.h"
#include "audio/sequencer.h"
#include "song/bytes.h"
#include "song/names.h"
#include "song/safe_file.h"
#include "song/song.h"

// ---------------------------------------------------------------------------
// 1. Formats

struct FormatEntry {
    Format format;
    const char* name;
    const char* extension;
    int sndfileFormat;
};

static const FormatEntry Formats[] = {
    {Format::Wav16, "wav", ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {Format::Wav24, "wav24", ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
    {Format::WavFloat, "wav32f", ".wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    {Format::Flac, "flac", ".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {Format::Ogg, "ogg", ".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
};

static const FormatEntry& entryOf(Format format) {
    for (const FormatEntry& e : Formats)
        if (e.format == format) return e;
    return Formats[0];
}

bool formatByName(const std::string& name, Format& format) {
    for (const FormatEntry& e : Formats)
        if (name == e.name || (name == "wav16" && e.format == Format::Wav16)) {  // 16 said outright
            format = e.format;
            return true;
        }
    return false;
}

// The name's end in any case ("x.FLAC" is FLAC).
Format formatOfName(const std::string& path) {
    std::string name = path;
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (endsWith(name, ".flac")) return Format::Flac;
    if (endsWith(name, ".ogg") || endsWith(name, ".oga")) return Format::Ogg;
    return Format::Wav16;
}

const char* extensionOf(Format format) { return entryOf(format).extension; }

const char* formatNames() { return "wav (16-bit), wav24, wav32f (32-bit float), flac, ogg"; }

// ---------------------------------------------------------------------------
// 2. Values per format

static constexpr double SampleScale = 32767.5;  // the export's mean-to-16-bit factor
static constexpr double Top = 32767.0;          // the export's clamp

static double clampFine(double v) { return v > Top ? Top : (v < -Top ? -Top : v); }

double fineMix(const double* const* channels, int frame) {
    // The same float32 steps as the export's mix, without its last truncation.
    float sum = 0.0f;
    for (int c = 0; c < ChannelCount; ++c) sum = float(double(sum) + channels[c][frame]);
    return clampFine(double(float(double(sum) / ChannelCount)) * SampleScale);
}

double fineStem(double channelValue) { return clampFine(channelValue / ChannelCount * SampleScale); }

int16_t stemSample(double fine) { return int16_t(std::lround(fine)); }

// ---------------------------------------------------------------------------
// 3. Where the bytes go

// All of `size` bytes to standard output, across short writes and signals.
static bool writeAllToStdout(const void* data, size_t size) {
    return writeFully(STDOUT_FILENO, static_cast<const uint8_t*>(data), size);
}

// Bytes at out.position, wherever the output keeps them.
static bool putBytes(Output& out, const void* data, size_t size) {
    bool ok = true;
    switch (out.to) {
    case Output::To::File:
        // Sequential writes go straight on; a header patched later is written in place.
        ok = out.position == out.filePosition ? safeWrite(out.file, data, size)
                                              : safeWriteAt(out.file, long(out.position), data, size);
        out.filePosition = out.position + int64_t(size);
        break;
    case Output::To::Spool:
        ok = std::fseek(out.spool, long(out.position), SEEK_SET) == 0 && std::fwrite(data, 1, size, out.spool) == size;
        break;
    case Output::To::Pipe:
        // What was sent cannot be changed: a rewrite of an earlier part (the
        // encoder's final header update) is dropped, and the stream stays as
        // first written, which is complete in itself.
        if (!out.discarding) ok = writeAllToStdout(data, size);
        break;
    }
    if (!ok) out.failed = true;
    out.position += int64_t(size);
    if (out.position > out.length) out.length = out.position;
    return ok;
}

static sf_count_t ioLength(void* user) { return static_cast<Output*>(user)->length; }

static sf_count_t ioSeek(sf_count_t offset, int whence, void* user) {
    Output& out = *static_cast<Output*>(user);
    const int64_t base = whence == SEEK_CUR ? out.position : (whence == SEEK_END ? out.length : 0);
    const int64_t target = base + int64_t(offset);
    if (target < 0) return -1;
    out.position = target;
    if (out.to == Output::To::Pipe) out.discarding = target != out.length;
    return target;
}

// The outputs are written, never read back.
static sf_count_t ioRead(void*, sf_count_t, void*) { return 0; }

static sf_count_t ioWrite(const void* data, sf_count_t count, void* user) {
    return putBytes(*static_cast<Output*>(user), data, size_t(count)) ? count : 0;
}

static sf_count_t ioTell(void* user) { return static_cast<Output*>(user)->position; }

static SF_VIRTUAL_IO virtualIo = {ioLength, ioSeek, ioRead, ioWrite, ioTell};

// ---------------------------------------------------------------------------
// 4. Opening, writing, finishing

bool openOutput(Output& out, const std::string& path, Format format, uint64_t frames, std::string& why) {
    out.format = format;
    const bool toStdout = path == "-";
    if (!toStdout) {
        out.to = Output::To::File;
        if (!safeOpen(out.file, path)) {
            why = out.file.why.empty() ? std::strerror(errno) : out.file.why;
            return false;
        }
    } else if (format == Format::Flac || format == Format::Ogg || format == Format::Wav16) {
        // FLAC and Ogg are made to be streamed; the 16-bit WAV writes its own header.
        out.to = Output::To::Pipe;
    } else {
        // libsndfile finishes a WAV by rewriting its header: made aside, sent whole.
        out.to = Output::To::Spool;
        out.spool = std::tmpfile();
        if (!out.spool) {
            why = std::string("no scratch file: ") + std::strerror(errno);
            return false;
        }
    }

    if (toStdout && format == Format::Wav16) {
        // The length is known before rendering, so the header can lead.
        uint8_t header[44];
        buildWavHeader(header, uint32_t(frames * 2));
        if (!putBytes(out, header, sizeof header)) {
            why = std::strerror(errno);
            return false;
        }
        return true;
    }
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = SampleRate;
    info.channels = 1;
    info.format = entryOf(format).sndfileFormat;
    out.sound = sf_open_virtual(&virtualIo, SFM_WRITE, &info, &out);
    if (!out.sound) {
        why = sf_strerror(nullptr);
        return false;
    }
    // The float formats store values as they are: full scale is +-1.0.
    sf_command(out.sound, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return true;
}

bool writeOutput(Output& out, const int16_t* exact, const double* fine, int count) {
    if (out.failed) return false;
    if (!out.sound) {
        // The streamed 16-bit WAV: little-endian samples after the header.
        out.bytes.resize(size_t(count) * 2);
        for (int i = 0; i < count; ++i) putLe16(out.bytes.data() + 2 * i, uint16_t(exact[i]));
        return putBytes(out, out.bytes.data(), out.bytes.size());
    }
    sf_count_t wrote = 0;
    switch (out.format) {
    case Format::Wav16:
    case Format::Flac: wrote = sf_write_short(out.sound, exact, count); break;
    case Format::Wav24:
        // 24 bits: eight more below the 16-bit step, in the top bits of an int.
        out.ints.resize(size_t(count));
        for (int i = 0; i < count; ++i) out.ints[size_t(i)] = int(std::lround(fine[i] * 256.0)) * 256;
        wrote = sf_write_int(out.sound, out.ints.data(), count);
        break;
    case Format::WavFloat:
    case Format::Ogg:
        // Full scale 1.0 is 32768 steps, as libsndfile reads a 16-bit file.
        out.floats.resize(size_t(count));
        for (int i = 0; i < count; ++i) out.floats[size_t(i)] = float(fine[i] / 32768.0);
        wrote = sf_write_float(out.sound, out.floats.data(), count);
        break;
    }
    if (wrote != count) out.failed = true;
    return !out.failed;
}

// Sends the finished scratch file to standard output.
static bool sendSpool(Output& out) {
    if (std::fflush(out.spool) != 0 || std::fseek(out.spool, 0, SEEK_SET) != 0) return false;
    std::vector<uint8_t> block(1 << 16);
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), out.spool)) > 0)
        if (!writeAllToStdout(block.data(), n)) return false;
    return !std::ferror(out.spool);
}

bool finishOutput(Output& out) {
    if (out.sound) {
        if (sf_close(out.sound) != 0) out.failed = true;
        out.sound = nullptr;
    }
    bool ok = !out.failed;
    switch (out.to) {
    case Output::To::File:
        if (ok)
            ok = safeCommit(out.file);  // refuses, and removes the temporary file, after any failed write
        else
            safeAbandon(out.file);
        break;
    case Output::To::Spool:
        ok = ok && sendSpool(out);
        std::fclose(out.spool);
        out.spool = nullptr;
        break;
    case Output::To::Pipe: break;
    }
    out.failed = !ok;
    out.finished = true;
    return ok;
}

Output::~Output() {
    if (sound) sf_close(sound);
    if (to == To::File && !finished) safeAbandon(file);
    if (spool) std::fclose(spool);
}
