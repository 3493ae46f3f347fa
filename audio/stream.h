#pragma once
// The real-time output stream. The only part of the program that knows the
// audio library; everything else goes through the sequencer.
#include <cstdint>
#include <string>

// Block sizes the stream takes: outside them the audio library either refuses
// the stream or gives absurd latency, so the usual size is used instead.
constexpr unsigned MinBufferFrames = 16, MaxBufferFrames = 8192, DefaultBufferFrames = 512;
constexpr unsigned usableBufferFrames(int64_t frames) {
    return frames >= MinBufferFrames && frames <= MaxBufferFrames ? unsigned(frames) : DefaultBufferFrames;
}

// Opens and starts the stream for a driver value ("dsound" = the platform's
// default back end; "pulse", "alsa", "jack"; "none" = no sound). On any
// failure prints one line on standard error and returns false: the program
// runs on without sound. A block size outside the usable ones gets the default.
bool startAudio(const std::string& driver, unsigned bufferFrames);
// Stops and closes the stream, if one is open.
void stopAudio();

// What the running stream looks like (for the tests and soak runs).
uint64_t streamBlocks();       // blocks the library has asked for since start-up
std::string streamBackend();   // "pulse", "alsa", "jack", ...; "" without a stream
unsigned streamBlockFrames();  // frames per block as granted by the library; 0 without a stream
bool streamRealtime();         // the callback's thread has a real-time policy (seen at its first block)
