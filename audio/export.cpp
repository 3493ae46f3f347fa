// WAV export: the whole song, slot 0 to the end marker, rendered on the
// main thread and streamed to a temporary file that replaces the target
// only when complete.
//
// Sections:
//   1. the 44-byte header
//   2. the export's own position advance (no looping)
//   3. exportWav
#include "audio/export.h"

#include <chrono>
#include <thread>
#include <vector>

#include "audio/sequencer.h"
#include "song/bytes.h"
#include "song/safe_file.h"
#include "song/song.h"
#include "ui/status.h"

ExportProgress exportProgress = nullptr;

// ---- 1. header ------------------------------------------------------------------

static constexpr int WavHeaderSize = 44;
static constexpr uint32_t BlockFrames = 65536;      // samples buffered per write (128 KiB)
static constexpr uint64_t ProgressEvery = 44100;    // about one report per second of song

void buildWavHeader(uint8_t* h, uint32_t dataBytes) {
    const uint8_t riff[4] = {'R', 'I', 'F', 'F'};
    const uint8_t waveFmt[8] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};  // form type + format chunk id
    const uint8_t data[4] = {'d', 'a', 't', 'a'};
    for (int i = 0; i < 4; ++i) h[i] = riff[i];
    putLe32(h + 4, 36 + dataBytes);  // rest of the file: 36 header bytes after this field + data
    for (int i = 0; i < 8; ++i) h[8 + i] = waveFmt[i];
    putLe32(h + 16, 16);             // format chunk size
    putLe16(h + 20, 1);              // PCM
    putLe16(h + 22, 1);              // mono
    putLe32(h + 24, SampleRate);     // frames per second
    putLe32(h + 28, SampleRate * 2); // bytes per second: 2 bytes per frame
    putLe16(h + 32, 2);              // bytes per frame
    putLe16(h + 34, 16);             // bits per sample
    for (int i = 0; i < 4; ++i) h[36 + i] = data[i];
    putLe32(h + 40, dataBytes);      // data bytes: 2 per frame
}

uint64_t exportFrameCount() {
    uint64_t slots = 0;
    while (slots < OrderSlots && song.orders[slots] != OrderEmpty) ++slots;
    int32_t speed = song.speed;
    // A row ends when the tick reaches or passes speed: at least one tick.
    uint64_t ticksPerRow = speed < 1 ? 1 : uint64_t(speed);
    return slots * RowsPerPattern * ticksPerRow * FramesPerTick;
}

// ---- 2. advance -----------------------------------------------------------------

// Like the live advance, but the end of the order list ends the export.
// Returns false after the song's last frame.
static bool advanceExport() {
    int32_t frame = tickFrame + 1;
    if (frame < FramesPerTick) {
        tickFrame = frame;
        return true;
    }
    tickFrame = 0;
    int32_t t = tick + 1;
    if (t < song.speed) {
        tick = t;
        return true;
    }
    tick = 0;
    int32_t row = currentRow + 1;
    if (row < RowsPerPattern) {
        currentRow = row;
        return true;
    }
    currentRow = 0;
    int32_t slot = orderPos + 1;
    if (slot >= OrderSlots) {
        // All 64 slots played: no end marker to stand on, slot 0 is the valid choice.
        orderPos = 0;
        currentPattern = song.orders[0].load();
        return false;
    }
    orderPos = slot;
    currentPattern = song.orders[slot].load();
    return song.orders[slot] != OrderEmpty;
}

// ---- 3. exportWav ---------------------------------------------------------------

// Waits (bounded) until the audio callback has seen `exporting`, so no voice
// is ever rendered by two threads at once.
static void waitForCallback() {
    using namespace std::chrono;
    auto deadline = steady_clock::now() + milliseconds(500);
    while (streamActive && !exportSeen && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
}

static int16_t toSample(float sum) {
    double s = double(sum / ChannelCount) * 32767.5;
    // Only volumes above 80 from a damaged file can pass full scale: clip, don't wrap.
    if (s > 32767.0) s = 32767.0;
    if (s < -32767.0) s = -32767.0;
    return int16_t(s);  // truncates toward zero
}

bool exportWav(const std::string& fileName) {
    playing = false;
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    orderPos = 0;
    currentPattern = song.orders[0].load();
    exportSeen = false;
    exporting = true;
    waitForCallback();

    const uint64_t total = exportFrameCount();
    SafeFile file;
    bool ok = safeOpen(file, fileName);
    uint8_t header[WavHeaderSize];
    buildWavHeader(header, 0);  // placeholder, patched with the data size at the end
    if (ok) ok = safeWrite(file, header, sizeof header);

    uint64_t done = 0;
    // Slot 0 empty: nothing to render, the file gets an empty data chunk.
    bool more = song.orders[0] != OrderEmpty;
    if (ok && more) {
        std::vector<uint8_t> block(size_t(BlockFrames) * 2);
        uint32_t filled = 0;
        while (more) {
            float sum = 0.0f;
            for (int c = 0; c < ChannelCount; ++c) sum = float(double(sum) + renderChannel(c));
            putLe16(block.data() + 2 * filled, uint16_t(toSample(sum)));
            ++done;
            if (++filled == BlockFrames) {
                if (!safeWrite(file, block.data(), block.size())) break;
                filled = 0;
            }
            more = advanceExport();
            if (exportProgress && done % ProgressEvery == 0) exportProgress(done, total);
        }
        if (!file.failed) safeWrite(file, block.data(), size_t(filled) * 2);
        ok = !file.failed;
    }

    playing = false;
    currentPattern = 0;
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    exporting = false;

    // The RIFF sizes are 32-bit; even 64 slots at speed 255 stay below 2^31 bytes.
    if (ok) {
        buildWavHeader(header, uint32_t(done * 2));
        safeWriteAt(file, 0, header, sizeof header);
        ok = safeCommit(file);  // refuses, and removes the temporary file, after any failed write
    } else {
        safeAbandon(file);
    }
    if (exportProgress && ok) exportProgress(done, total);
    if (ok)
        showStatus("SUCCESSFULLY EXPORTED");
    else
        showStatus("COULDN'T EXPORT \"" + fileName + "\"");
    return ok;
}
