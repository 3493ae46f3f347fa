#pragma once
// Offline render of the whole song to a 16-bit mono WAV file.
#include <cstdint>
#include <string>

#include "audio/fast_render.h"  // exportProgress, exportFrameCount
#include "song/relaxed.h"

// Set from another thread (a quit signal) to end an export early: the render
// stops at its next block and the temporary file is removed.
extern Relaxed<bool> exportStop;  // audio/export.cpp

// Renders from order slot 0 to the end marker and writes fileName safely
// (see safe_file.h for the targets it refuses). Shows nothing; returns
// whether the file was written, and with `why` the reason it was not.
bool exportWav(const std::string& fileName, std::string* why = nullptr);

// The canonical 44-byte header of a mono 16-bit 44100 Hz file with dataBytes of samples.
void buildWavHeader(uint8_t* header44, uint32_t dataBytes);
