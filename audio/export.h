#pragma once
// Offline render of the whole song to a 16-bit mono WAV file.
#include <cstdint>
#include <string>

#include "audio/fast_render.h"  // exportProgress, exportFrameCount

// Renders from order slot 0 to the end marker and writes fileName safely.
// Reports on the message line; returns whether the file was written.
bool exportWav(const std::string& fileName);

// The canonical 44-byte header of a mono 16-bit 44100 Hz file with dataBytes of samples.
void buildWavHeader(uint8_t* header44, uint32_t dataBytes);
