// WAV export: the whole song, slot 0 to the end marker, rendered on the
// main thread and streamed to a temporary file that replaces the target
// only when complete.
//
// Sections:
//   1. the 44-byte header
//   2. exportWav (the rendering itself is the block renderer's, fast_render.cpp)
#include "audio/export.h"

#include <vector>

#include "audio/fast_render.h"
#include "audio/sequencer.h"
#include "song/bytes.h"
#include "song/safe_file.h"

Relaxed<bool> exportStop{false};

// ---- 1. header ------------------------------------------------------------------

static constexpr int WavHeaderSize = 44;
static constexpr uint32_t BlockFrames = 65536;  // samples buffered per write (128 KiB)

void buildWavHeader(uint8_t* h, uint32_t dataBytes) {
    const uint8_t riff[4] = {'R', 'I', 'F', 'F'};
    const uint8_t waveFmt[8] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};  // form type + format chunk id
    const uint8_t data[4] = {'d', 'a', 't', 'a'};
    for (int i = 0; i < 4; ++i) h[i] = riff[i];
    putLe32(h + 4, 36 + dataBytes);  // rest of the file: 36 header bytes after this field + data
    for (int i = 0; i < 8; ++i) h[8 + i] = waveFmt[i];
    putLe32(h + 16, 16);              // format chunk size
    putLe16(h + 20, 1);               // PCM
    putLe16(h + 22, 1);               // mono
    putLe32(h + 24, SampleRate);      // frames per second
    putLe32(h + 28, SampleRate * 2);  // bytes per second: 2 bytes per frame
    putLe16(h + 32, 2);               // bytes per frame
    putLe16(h + 34, 16);              // bits per sample
    for (int i = 0; i < 4; ++i) h[36 + i] = data[i];
    putLe32(h + 40, dataBytes);  // data bytes: 2 per frame
}

// ---- 2. exportWav ---------------------------------------------------------------

// Collects rendered samples as little-endian bytes and writes them in large pieces.
struct WavSink {
    SafeFile* file;
    std::vector<uint8_t> block;
    size_t filled = 0;  // frames waiting in block
};

static bool writeSamples(const int16_t* samples, const double* const*, int count, void* context) {
    WavSink& sink = *static_cast<WavSink*>(context);
    if (exportStop) return false;  // asked to end: the temporary file is thrown away
    for (int i = 0; i < count; ++i) {
        putLe16(sink.block.data() + 2 * sink.filled, uint16_t(samples[i]));
        if (++sink.filled == BlockFrames) {
            if (!safeWrite(*sink.file, sink.block.data(), sink.block.size())) return false;
            sink.filled = 0;
        }
    }
    return true;
}

bool exportWav(const std::string& fileName, std::string* why) {
    const uint64_t total = exportFrameCount();
    SafeFile file;
    bool ok = safeOpen(file, fileName);
    uint8_t header[WavHeaderSize];
    buildWavHeader(header, 0);  // placeholder, patched with the data size at the end
    if (ok) ok = safeWrite(file, header, sizeof header);

    uint64_t done = 0;
    if (ok) {
        WavSink sink{&file, std::vector<uint8_t>(size_t(BlockFrames) * 2)};
        done =
            renderSong(writeSamples, &sink);  // takes the voices from the callback, resets and restores the play state
        if (!file.failed) safeWrite(file, sink.block.data(), sink.filled * 2);
        ok = !file.failed && done == total;
    } else {
        endExportPlayState();  // stopped all the same, as after a render
    }

    // The RIFF sizes are 32-bit; even 64 slots at speed 255 stay below 2^31 bytes.
    if (ok) {
        buildWavHeader(header, uint32_t(done * 2));
        safeWriteAt(file, 0, header, sizeof header);
        ok = safeCommit(file);  // refuses, and removes the temporary file, after any failed write
    } else {
        safeAbandon(file);
    }
    if (exportProgress && ok) exportProgress(done, total);
    if (!ok && why) *why = exportStop ? "stopped by a signal" : !file.why.empty() ? file.why : "the render ended early";
    return ok;
}
